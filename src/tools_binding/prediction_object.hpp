#pragma once

// The `Prediction` type: a solar-cycle prediction read from its bytes, whose
// table of days is made on first use. Timeline's forecast methods take one.

#include "python_common/py_ref.hpp"
#include "timeline/forecast.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// The Prediction type of `module`; empty with the exception set.
PyRef create_prediction_type(PyObject* module);

/// load_prediction(content): a new Prediction from a file's bytes. Bad
/// content raises ValueError(message): the package names the file.
PyObject* load_prediction(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

/// The prediction of a Prediction object, or null with TypeError for
/// anything else.
const timeline::SolarCyclePrediction* prediction_of(PyObject* object);

}  // namespace sunindex::tools_python
