// The companion's native module: a thin binding of the timeline and the
// model inputs. Multi-phase initialisation with no module state.

#include "python_common/guard.hpp"
#include "tools_binding/arrays.hpp"
#include "tools_binding/csv_text.hpp"
#include "tools_binding/epoch_texts.hpp"
#include "tools_binding/epoch_ticks.hpp"
#include "tools_binding/prediction_object.hpp"
#include "tools_binding/timeline_object.hpp"

namespace sunindex::tools_python {
namespace {

int execute(PyObject* module) noexcept {
  return python::guarded<int>(-1, [&] {
    if (!load_numpy() || !load_datetime()) return -1;
    PyRef type = create_timeline_type(module);
    PyRef source_keys = source_keys_tuple();
    if (!type || !source_keys) return -1;
    if (PyModule_AddObjectRef(module, "SOURCE_KEYS", source_keys.get()) != 0) return -1;
    if (PyModule_AddObjectRef(module, "Timeline", type.get()) != 0) return -1;
    PyRef prediction = create_prediction_type(module);
    if (!prediction || PyModule_AddObjectRef(module, "Prediction", prediction.get()) != 0) return -1;
    if (PyModule_AddIntConstant(module, "MEAN_HALF_WIDTH", timeline::SolarCyclePrediction::mean_half_width) != 0) {
      return -1;
    }
    return PyModule_AddIntConstant(module, "LAST_FORECAST_DAY", timeline::SolarCyclePrediction::last_day);
  });
}

PyMethodDef module_methods[] = {
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_timeline)), METH_FASTCALL,
     "load(files) -> Timeline: files a tuple of (key, bytes) pairs"},
    {"utc_microseconds", utc_microseconds, METH_O,
     "utc_microseconds(moment) -> int: a datetime (aware converted to UTC, naive taken as UTC) or a date's "
     "midnight, as microseconds since 1970-01-01"},
    {"parse_epochs", parse_epochs, METH_O,
     "parse_epochs(texts) -> (ticks, unit) or None: a str, a list or tuple of str, or a native-order 1-D str array, "
     "as ISO 8601 epochs in one int64 array of unit 'us' or 'ns' (NaT the minimum); None for anything else"},
    {"csv_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(csv_lines)), METH_FASTCALL,
     "csv_lines(columns, first, last) -> bytes: rows first to last (excluded) of a tuple of 1-D float64, int64, int8, "
     "bool or str arrays as UTF-8 CSV lines, each value as Python writes it"},
    {"load_prediction", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_prediction)), METH_FASTCALL,
     "load_prediction(content) -> Prediction, from a solar-cycle prediction's bytes"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
#if PY_VERSION_HEX >= 0x030C0000
    // NumPy and datetime's C API table are shared by the whole process.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "sunindex_tools._native", "Native part of sunindex_tools.", 0, module_methods,
    module_slots,          nullptr,                  nullptr,                          nullptr,
};

}  // namespace
}  // namespace sunindex::tools_python

PyMODINIT_FUNC PyInit__native() noexcept { return PyModuleDef_Init(&sunindex::tools_python::module_definition); }
