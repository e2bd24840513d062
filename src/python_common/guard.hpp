#pragma once

#include "python_common/py_ref.hpp"

#include <exception>
#include <new>
#include <string>

namespace sunindex::python {

/// Runs the body of an interpreter entry point so that no C++ exception can
/// cross into C: running out of memory becomes MemoryError, any other fault
/// SystemError, and the entry point returns `on_fault`.
template <class Result, class Body>
Result guarded(Result on_fault, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& fault) {
    PyErr_SetString(PyExc_SystemError, fault.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "sunindex: unknown internal fault");
  }
  return on_fault;
}

/// Clears the pending Python exception and returns its text, so that an
/// internal fault can say what the interpreter reported.
inline std::string take_pending_error_text() {
#if PY_VERSION_HEX >= 0x030C0000
  PyRef error = PyRef::steal(PyErr_GetRaisedException());
#else
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type), owned_traceback = PyRef::steal(traceback);
  PyRef error = PyRef::steal(value);
#endif
  if (!error) return "no error reported";
  PyRef text = PyRef::steal(PyObject_Str(error.get()));
  const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  std::string result = utf8 != nullptr ? utf8 : "unprintable error";
  PyErr_Clear();
  return result;
}

}  // namespace sunindex::python
