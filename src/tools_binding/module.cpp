// The companion's native module: a thin binding of the timeline and the
// model inputs. Multi-phase initialisation with no module state.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef_Slot module_slots[] = {
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "sunindex_tools._native", "Native part of sunindex_tools.", 0, nullptr,
    module_slots,          nullptr,                  nullptr,                          nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__native() noexcept { return PyModuleDef_Init(&module_definition); }
