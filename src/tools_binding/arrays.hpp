#pragma once

// New NumPy arrays for results. Only arrays.cpp sees NumPy's headers.

#include <cstddef>
#include <initializer_list>

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// Loads NumPy's C API; false with the exception set.
bool load_numpy();

/// The kinds of result array.
enum class Element {
  float64,  // double
  int64,    // std::int64_t
  boolean,  // bool
  text3,    // "<U3": three UCS-4 characters
  text4,    // "<U4": four UCS-4 characters
};

/// A new C-ordered array of `shape`, its contents unset; empty with the
/// exception set.
PyRef new_array(Element element, std::initializer_list<std::size_t> shape);

/// The first byte of an array made by new_array.
void* array_data(const PyRef& array) noexcept;

}  // namespace sunindex::tools_python
