#pragma once

#include "python_common/py_ref.hpp"

namespace sunindex::python {

/// Creates the `Sunindex` type object; empty with the exception set.
PyRef create_sunindex_type();

}  // namespace sunindex::python
