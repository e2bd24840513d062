#pragma once

// What the items of a buffer view are, read from its format: NumPy writes no
// byte order for this machine's own, and a count before 'w' for str items.

#include <string_view>

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

/// Whether `view`, one-dimensional, holds NumPy str items in this machine's
/// byte order: UCS-4 characters, itemsize / 4 of them per item.
inline bool holds_texts(const Py_buffer& view) noexcept {
  const std::string_view format = view.format != nullptr ? view.format : "";
  return view.ndim == 1 && view.itemsize % 4 == 0 && format.size() >= 2 && format.back() == 'w' &&
         format.find_first_not_of("0123456789") == format.size() - 1;
}

}  // namespace sunindex::tools_python
