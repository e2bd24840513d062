#include "python/args.hpp"

#include <string>

#include "python_common/guard.hpp"

namespace sunindex::python {
namespace {

bool fail_too_many_positional(const char* function, std::size_t accepted, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", function, accepted, given,
               given == 1 ? "was" : "were");
  return false;
}

/// "missing 2 required positional arguments: 'start' and 'end'"
bool fail_missing(const char* function, std::span<const char* const> names, std::span<PyObject*> bound) {
  std::string list;
  std::size_t missing = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (bound[i] == nullptr) ++missing;
  }
  std::size_t listed = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (bound[i] != nullptr) continue;
    if (listed > 0) list += (listed + 1 == missing) ? " and " : ", ";
    list += '\'';
    list += names[i];
    list += '\'';
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", function, missing,
               missing == 1 ? "argument" : "arguments", list.c_str());
  return false;
}

}  // namespace

bool bind_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> bound) noexcept {
  return guarded(false, [&] {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargsf);
    if (static_cast<std::size_t>(positional) > names.size()) {
      return fail_too_many_positional(function, names.size(), positional);
    }
    for (std::size_t i = 0; i < bound.size(); ++i) {
      bound[i] = i < static_cast<std::size_t>(positional) ? args[i] : nullptr;
    }
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
      std::size_t slot = 0;
      while (slot < names.size() && PyUnicode_CompareWithASCIIString(keyword, names[slot]) != 0) ++slot;
      if (slot == names.size()) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", function, keyword);
        return false;
      }
      if (bound[slot] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", function, names[slot]);
        return false;
      }
      bound[slot] = args[positional + k];
    }
    for (PyObject* argument : bound) {
      if (argument == nullptr) return fail_missing(function, names, bound);
    }
    return true;
  });
}

}  // namespace sunindex::python
