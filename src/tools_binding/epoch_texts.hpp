#pragma once

// ISO 8601 epoch strings read natively, all in one pass: the one parser of
// epoch text, for the API and the command line alike.

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

/// parse_epochs(texts) -> (ticks, unit) | None: a str, a list or tuple of str,
/// or a one-dimensional C-ordered NumPy str array in this machine's byte
/// order, as one int64 array of ticks (NaT the minimum) and its unit, "us" or
/// "ns" when some text carries nanoseconds; None for anything else.
/// ValueError names the first text that is no epoch.
PyObject* parse_epochs(PyObject* module, PyObject* texts) noexcept;

}  // namespace sunindex::tools_python
