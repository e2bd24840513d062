#pragma once

// New NumPy arrays for results. Only arrays.cpp sees NumPy's headers.

#include <cstddef>
#include <span>

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// Loads NumPy's C API; false with the exception set.
bool load_numpy();

/// The kinds of result array.
enum class ArrayType {
  float64,  // double
  int64,    // std::int64_t
  int8,     // std::int8_t
  boolean,  // bool
  text,     // UCS-4 characters, a fixed number per item ("<U3" for three)
};

/// A new C-ordered array of `shape` (at most three extents), its contents
/// unset; text items of `text_width` characters. Empty with the exception set.
PyRef new_array(ArrayType type, std::span<const std::size_t> shape, std::size_t text_width = 0);

/// The first byte of an array made by new_array.
void* array_data(const PyRef& array) noexcept;

}  // namespace sunindex::tools_python
