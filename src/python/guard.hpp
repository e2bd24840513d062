#pragma once

#include "python/py_ref.hpp"

#include <exception>
#include <new>

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

}  // namespace sunindex::python
