// The store as NumPy columns. The only file that sees NumPy's headers: the
// C API table is fetched by hand from the capsule, so `import sunindex`
// needs no NumPy and one build serves NumPy 1.x and 2.x.

#include "python/numpy_export.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "python/convert.hpp"
#include "python_common/guard.hpp"

namespace sunindex::python {
namespace {

/// The quiet NaN that stands for an absent value.
const double absent_value = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});

constexpr std::size_t values_per_day = 8;

/// The one-dimensional columns, in the order of the result's keys.
struct ScalarColumn {
  const char* key;
  Field field;
};
constexpr std::array<ScalarColumn, 9> scalar_columns{{
    {"f10_7_obs", Field::f10_7_obs},
    {"f10_7_adj", Field::f10_7_adj},
    {"f10_7_jb", Field::f10_7_jb},
    {"f10_7_jb_81c", Field::f10_7_jb_81c},
    {"ap_daily", Field::ap_daily},
    {"s10_7", Field::s10_7},
    {"m10_7", Field::m10_7},
    {"y10_7", Field::y10_7},
    {"dtc", Field::dtc},
}};

/// Whether NumPy's C API table has been fetched; kept for the process.
bool numpy_api_loaded = false;

/// numpy.lib.NumpyVersion(numpy.__version__).major, or -1 with the exception set.
long numpy_major_version(PyObject* numpy) {
  PyRef version = PyRef::steal(PyObject_GetAttrString(numpy, "__version__"));
  if (!version) return -1;
  PyRef lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
  if (!lib) return -1;
  PyRef parsed = PyRef::steal(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
  if (!parsed) return -1;
  PyRef major = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major) return -1;
  return PyLong_AsLong(major.get());
}

/// Fetches the `_ARRAY_API` table from NumPy's core multiarray module, whose
/// package moved from numpy.core to numpy._core in NumPy 2.
void load_numpy_api(PyObject* numpy) {
  if (numpy_api_loaded) return;
  const long major = numpy_major_version(numpy);
  void* table = nullptr;
  if (major >= 0) {
    PyRef core = PyRef::steal(PyImport_ImportModule(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
    PyRef capsule = core ? PyRef::steal(PyObject_GetAttrString(core.get(), "_ARRAY_API")) : PyRef{};
    if (capsule) table = PyCapsule_GetPointer(capsule.get(), nullptr);
  }
  if (table == nullptr) {
    throw std::runtime_error("Failed to access NumPy array API capsule: " + take_pending_error_text());
  }
  PyArray_API = static_cast<void**>(table);
  numpy_api_loaded = true;
}

/// A buffer of `count` doubles, each the absent value.
std::unique_ptr<double[]> absent_buffer(std::size_t count) {
  auto buffer = std::make_unique_for_overwrite<double[]>(std::max<std::size_t>(count, 1));
  std::fill_n(buffer.get(), count, absent_value);
  return buffer;
}

void free_column_buffer(PyObject* holder) noexcept {
  delete[] static_cast<double*>(PyCapsule_GetPointer(holder, "sunindex.column"));
}

/// A 1-D float64 array over `buffer`, which passes to a capsule set as the
/// array's base: the array does not copy it and NumPy frees it via the capsule.
PyRef adopt_column(std::unique_ptr<double[]> buffer, std::size_t rows) {
  PyRef holder = PyRef::steal(PyCapsule_New(buffer.get(), "sunindex.column", free_column_buffer));
  if (!holder) return {};
  double* data = buffer.release();  // the capsule owns it now
  npy_intp dimensions[1] = {static_cast<npy_intp>(rows)};
  npy_intp strides[1] = {sizeof(double)};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), 1, dimensions,
                                                  strides, data, NPY_ARRAY_WRITEABLE, nullptr));
  if (!array) return {};
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), holder.release()) != 0) return {};
  return array;
}

/// A NumPy-owned (rows, 8) float64 array holding `values`; (0, 0) when empty.
PyRef three_hourly_array(const double* values, std::size_t rows) {
  npy_intp dimensions[2] = {static_cast<npy_intp>(rows), rows == 0 ? 0 : static_cast<npy_intp>(values_per_day)};
  PyRef array = PyRef::steal(PyArray_SimpleNew(2, dimensions, NPY_DOUBLE));
  if (!array) return {};
  std::copy_n(values, rows * values_per_day,
              static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()))));
  return array;
}

void copy_three_hourly(const ThreeHourly* values, double* row) noexcept {
  if (values) std::copy(values->begin(), values->end(), row);
}

}  // namespace

PyRef store_to_numpy(const IndexStore& store) {
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  if (!numpy) return {};
  load_numpy_api(numpy.get());

  const auto records = store.all();
  const std::size_t rows = records.size();
  std::array<std::unique_ptr<double[]>, scalar_columns.size()> columns;
  for (auto& column : columns) column = absent_buffer(rows);
  auto ap_3hr = absent_buffer(rows * values_per_day);
  auto kp_3hr = absent_buffer(rows * values_per_day);
  PyRef dates = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(rows)));
  if (!dates) return {};

  for (std::size_t row = 0; row < rows; ++row) {
    const DailyIndices& record = records[row];
    PyRef date = date_to_python(record.date);
    if (!date) return {};
    PyList_SET_ITEM(dates.get(), static_cast<Py_ssize_t>(row), date.release());
    for (std::size_t c = 0; c < scalar_columns.size(); ++c) {
      if (const auto value = record.get(scalar_columns[c].field)) columns[c][row] = *value;
    }
    copy_three_hourly(record.get(Series::ap_3hr), &ap_3hr[row * values_per_day]);
    copy_three_hourly(record.get(Series::kp_3hr), &kp_3hr[row * values_per_day]);
  }

  PyRef result = PyRef::steal(PyDict_New());
  if (!result) return {};
  PyRef date_array = PyRef::steal(PyObject_CallMethod(numpy.get(), "array", "O", dates.get()));
  if (!set_item(result.get(), "date", date_array)) return {};
  for (std::size_t c = 0; c < scalar_columns.size(); ++c) {
    if (!set_item(result.get(), scalar_columns[c].key, adopt_column(std::move(columns[c]), rows))) return {};
  }
  if (!set_item(result.get(), "ap_3hr", three_hourly_array(ap_3hr.get(), rows))) return {};
  if (!set_item(result.get(), "kp_3hr", three_hourly_array(kp_3hr.get(), rows))) return {};
  return result;
}

}  // namespace sunindex::python
