// The `Prediction` type: a solar-cycle prediction behind one pointer.

#include "tools_binding/prediction_object.hpp"

#include <memory>
#include <string_view>

#include "python_common/guard.hpp"
#include "readers/msfc_prediction.hpp"

namespace sunindex::tools_python {
namespace {

using python::guarded;
using timeline::SolarCyclePrediction;

struct PredictionObject {
  PyObject_HEAD
  const SolarCyclePrediction* prediction;  // owned; never null once the object is handed out
};

const SolarCyclePrediction& prediction_in(PyObject* self) noexcept {
  return *reinterpret_cast<PredictionObject*>(self)->prediction;
}

/// The prediction read from `content`, or the error's text.
Result<std::unique_ptr<const SolarCyclePrediction>> read(std::string_view content) {
  auto months = parse_msfc_prediction(content);
  if (!months.ok()) return std::move(months.error());
  return SolarCyclePrediction::make(std::move(months.value()));
}

/// span() -> (first, last): the day numbers of the 1st of the first and last months.
PyObject* span(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const SolarCyclePrediction& prediction = prediction_in(self);
    return Py_BuildValue("(LL)", static_cast<long long>(prediction.first_month().to_days()),
                         static_cast<long long>(prediction.last_month().to_days()));
  });
}

/// first_full_day() -> the day number of the first day with the centred mean's every sample.
PyObject* first_full_day(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return PyLong_FromLongLong(prediction_in(self).first_full_day()); });
}

PyMethodDef methods[] = {
    {"span", span, METH_NOARGS, "span() -> (first, last): day numbers of the 1st of the first and last months"},
    {"first_full_day", first_full_day, METH_NOARGS,
     "first_full_day() -> the day number of the first day whose 81-day mean the prediction gives"},
    {nullptr, nullptr, 0, nullptr},
};

void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<PredictionObject*>(self)->prediction;
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("A solar-cycle prediction, monthly F10.7 and Ap at 95, 50 and 5 %.")},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "sunindex_tools._native.Prediction",
    sizeof(PredictionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

PyRef create_prediction_type(PyObject* module) {
  return PyRef::steal(PyType_FromModuleAndSpec(module, &type_spec, nullptr));
}

PyObject* load_prediction(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (nargs != 1 || !PyBytes_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "load_prediction() takes the file's contents as bytes");
      return nullptr;
    }
    PyRef type = PyRef::steal(PyObject_GetAttrString(module, "Prediction"));
    if (!type) return nullptr;
    // A file of some 14 KB: read with the lock held.
    auto result = read({PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0]))});
    if (!result.ok()) {
      PyErr_SetString(PyExc_ValueError, result.error().text().c_str());
      return nullptr;
    }
    auto* heap_type = reinterpret_cast<PyTypeObject*>(type.get());
    PyObject* object = heap_type->tp_alloc(heap_type, 0);
    if (!object) return nullptr;
    reinterpret_cast<PredictionObject*>(object)->prediction = result.value().release();
    return object;
  });
}

const SolarCyclePrediction* prediction_of(PyObject* object) {
  if (PyType_GetSlot(Py_TYPE(object), Py_tp_dealloc) != reinterpret_cast<void*>(dealloc)) {
    PyErr_SetString(PyExc_TypeError, "expected a sunindex_tools._native.Prediction");
    return nullptr;
  }
  return &prediction_in(object);
}

}  // namespace sunindex::tools_python
