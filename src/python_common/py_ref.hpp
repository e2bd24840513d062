#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace sunindex::python {

/// Owns one strong reference, or none. Move-only, so a reference can be
/// neither leaked nor released twice.
class PyRef {
 public:
  PyRef() noexcept = default;
  /// Takes over a new reference (nullptr allowed).
  static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
  /// Adds a reference to a borrowed one.
  static PyRef borrow(PyObject* p) noexcept { return PyRef(Py_XNewRef(p)); }

  PyRef(PyRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    Py_XSETREF(p_, std::exchange(other.p_, nullptr));
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  /// Hands the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace sunindex::python
