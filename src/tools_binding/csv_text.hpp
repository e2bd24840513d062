#pragma once

// Result columns written as CSV bytes natively: the command line's CSV output.

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

/// csv_lines(columns, first, last) -> bytes: rows [first, last) of `columns`, a
/// tuple of one-dimensional NumPy arrays of float64, int64, int8, bool or str
/// in this machine's byte order, as UTF-8 CSV lines, each value as Python's
/// repr or str writes it. TypeError for another column, ValueError for rows
/// beyond a column or a character no UTF-8 holds.
PyObject* csv_lines(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

}  // namespace sunindex::tools_python
