#pragma once

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// The Timeline type of `module`; empty with the exception set.
PyRef create_timeline_type(PyObject* module);

/// The keys of the files a timeline is made from, in load()'s order, as a
/// tuple of str; empty with the exception set.
PyRef source_keys_tuple();

/// load(csv, solfsmy, dtcfile): a new Timeline from the files' contents (bytes
/// or None). Bad content raises ValueError((source key, message)).
PyObject* load_timeline(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

}  // namespace sunindex::tools_python
