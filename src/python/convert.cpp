#include "python/convert.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace sunindex::python {
namespace {

/// Attribute `name` of `object`; empty with the exception set.
PyRef attribute(PyObject* object, std::string_view name) {
  PyRef key = ascii_string(name);
  return key ? PyRef::steal(PyObject_GetAttr(object, key.get())) : PyRef{};
}

/// The integer value of attribute `name`, or none with the exception set.
std::optional<long> integer_attribute(PyObject* object, std::string_view name) {
  PyRef value = attribute(object, name);
  if (!value) return std::nullopt;
  const long number = PyLong_AsLong(value.get());
  if (number == -1 && PyErr_Occurred()) return std::nullopt;
  return number;
}

void fail_out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}

std::optional<std::uint8_t> byte_attribute(PyObject* object, std::string_view name) {
  const auto value = integer_attribute(object, name);
  if (!value) return std::nullopt;
  if (static_cast<unsigned long>(*value) > 255) {  // a negative value wraps above 255
    fail_out_of_range();
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(*value);
}

/// A present value as float, an absent one as None.
PyRef optional_float(const std::optional<double>& value) {
  return value ? PyRef::steal(PyFloat_FromDouble(*value)) : PyRef::borrow(Py_None);
}

/// A present array as a list of eight floats, an absent one as None.
PyRef optional_float_list(const ThreeHourly* values) {
  if (!values) return PyRef::borrow(Py_None);
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values->size())));
  if (!list) return {};
  for (std::size_t slot = 0; slot < values->size(); ++slot) {
    PyObject* number = PyFloat_FromDouble((*values)[slot]);
    if (number == nullptr) return {};
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(slot), number);  // steals
  }
  return list;
}

/// The `datetime` module, imported through the interpreter when it is not
/// in sys.modules. Looked up on every call, never cached: whoever replaces
/// `datetime.date` (or the module) is honoured at the next conversion. The
/// sys.modules lookup is what the import would do for a loaded module, at a
/// fraction of its cost, which matters once per date.
PyRef datetime_module() {
  PyRef name = ascii_string("datetime");
  if (!name) return {};
  PyObject* loaded = PyDict_GetItemWithError(PyImport_GetModuleDict(), name.get());  // borrowed
  // None marks a blocked import: let the import machinery raise for it.
  if (loaded != nullptr && loaded != Py_None) return PyRef::borrow(loaded);
  if (PyErr_Occurred()) return {};
  return PyRef::steal(PyImport_Import(name.get()));
}

}  // namespace

bool set_item(PyObject* dict, std::string_view key, const PyRef& value) {
  if (!value) return false;
  PyRef name = ascii_string(key);
  return name && PyDict_SetItem(dict, name.get(), value.get()) == 0;
}

PyRef ascii_string(std::string_view text) {
  PyRef string = PyRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
  if (string) std::copy(text.begin(), text.end(), static_cast<char*>(PyUnicode_DATA(string.get())));
  return string;
}

std::optional<CivilDate> date_from_python(PyObject* object) {
  const auto year = integer_attribute(object, "year");
  if (!year) return std::nullopt;
  if (*year < std::numeric_limits<std::int32_t>::min() || *year > std::numeric_limits<std::int32_t>::max()) {
    fail_out_of_range();
    return std::nullopt;
  }
  const auto month = byte_attribute(object, "month");
  if (!month) return std::nullopt;
  const auto day = byte_attribute(object, "day");
  if (!day) return std::nullopt;
  return CivilDate{static_cast<std::int32_t>(*year), *month, *day};
}

PyRef date_to_python(CivilDate date) {
  PyRef module = datetime_module();
  if (!module) return {};
  PyRef date_type = attribute(module.get(), "date");
  if (!date_type) return {};
  std::array<PyRef, 3> parts{PyRef::steal(PyLong_FromLong(date.year)), PyRef::steal(PyLong_FromLong(date.month)),
                             PyRef::steal(PyLong_FromLong(date.day))};
  for (const auto& part : parts) {
    if (!part) return {};
  }
  std::array<PyObject*, 3> args{parts[0].get(), parts[1].get(), parts[2].get()};
  return PyRef::steal(PyObject_Vectorcall(date_type.get(), args.data(), args.size(), nullptr));
}

PyRef record_to_dict(const DailyIndices& record) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return {};
  PyObject* d = dict.get();
  const bool filled = set_item(d, "date", date_to_python(record.date)) &&
                      set_item(d, "f10_7_obs", optional_float(record.get(Field::f10_7_obs))) &&
                      set_item(d, "f10_7_adj", optional_float(record.get(Field::f10_7_adj))) &&
                      set_item(d, "f10_7_jb", optional_float(record.get(Field::f10_7_jb))) &&
                      set_item(d, "f10_7_jb_81c", optional_float(record.get(Field::f10_7_jb_81c))) &&
                      set_item(d, "ap_daily", optional_float(record.get(Field::ap_daily))) &&
                      set_item(d, "ap_3hr", optional_float_list(record.get(Series::ap_3hr))) &&
                      set_item(d, "kp_3hr", optional_float_list(record.get(Series::kp_3hr))) &&
                      set_item(d, "s10_7", optional_float(record.get(Field::s10_7))) &&
                      set_item(d, "m10_7", optional_float(record.get(Field::m10_7))) &&
                      set_item(d, "y10_7", optional_float(record.get(Field::y10_7))) &&
                      set_item(d, "dtc", optional_float(record.get(Field::dtc)));
  if (!filled) return {};
  return dict;
}

}  // namespace sunindex::python
