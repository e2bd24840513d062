// The module entry. Single-phase initialisation: the module and the type are
// made once per process and the module refuses any interpreter but the first,
// since both are process-wide objects that must not be shared between
// interpreters.

#include <atomic>
#include <cstdint>

#include "python_common/guard.hpp"
#include "python/sunindex_type.hpp"

namespace sunindex::python {
namespace {

// m_size 0 (not -1): CPython then calls this init function again for every
// interpreter that imports the module, which is what lets a second
// interpreter be refused instead of handed a copy of the first's module.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "sunindex",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

/// The interpreter that first imported the module; -1 until then.
std::atomic<std::int64_t> owner_interpreter{-1};

/// The module, retained for the life of the process.
PyObject* module_object = nullptr;

bool claim_interpreter() {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1 && PyErr_Occurred()) return false;
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "sunindex does not support sub-interpreters: it can be imported only in the interpreter "
                    "that imported it first");
    return false;
  }
  return true;
}

/// `__all__` of the module, created as an empty list when missing.
PyRef all_list(PyObject* module) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return {};
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) return {};
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "sunindex.__all__ must be a list");
    return {};
  }
  return all;
}

bool add_sunindex_class(PyObject* module) {
  PyRef type = create_sunindex_type();
  if (!type) return false;
  PyRef all = all_list(module);
  if (!all) return false;
  PyRef name = PyRef::steal(PyUnicode_FromString("Sunindex"));
  if (!name || PyList_Append(all.get(), name.get()) != 0) return false;
  return PyObject_SetAttrString(module, "Sunindex", type.get()) == 0;
}

PyObject* initialise() {
  if (!claim_interpreter()) return nullptr;
  if (module_object != nullptr) return Py_NewRef(module_object);
  PyRef module = PyRef::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
  if (!module || !add_sunindex_class(module.get())) return nullptr;
  module_object = Py_NewRef(module.get());
  return module.release();
}

}  // namespace
}  // namespace sunindex::python

PyMODINIT_FUNC PyInit_sunindex() noexcept {
  return sunindex::python::guarded<PyObject*>(nullptr, sunindex::python::initialise);
}
