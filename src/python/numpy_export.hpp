#pragma once

#include "python_common/py_ref.hpp"
#include "store/index_store.hpp"

namespace sunindex::python {

/// The store as a dict of twelve NumPy arrays, one row per record in date
/// order, NaN for absent values; empty with the exception set. Throws
/// std::runtime_error when NumPy's C API cannot be had.
PyRef store_to_numpy(const IndexStore& store);

}  // namespace sunindex::python
