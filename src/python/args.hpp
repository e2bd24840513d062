#pragma once

#include "python_common/py_ref.hpp"

#include <array>
#include <cstddef>
#include <span>

namespace sunindex::python {

/// Binds vectorcall arguments to required parameters that may be passed by
/// position or by keyword. `function` names the method in messages, e.g.
/// "Sunindex.get()". On success every slot of `bound` holds a borrowed
/// reference; on failure TypeError is set and false returned.
bool bind_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> bound) noexcept;

template <std::size_t N>
bool bind_arguments(const char* function, const std::array<const char*, N>& names, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, std::array<PyObject*, N>& bound) noexcept {
  return bind_arguments(function, std::span<const char* const>(names), args, nargsf, kwnames,
                        std::span<PyObject*>(bound));
}

}  // namespace sunindex::python
