#include "python/convert.hpp"

// The only file that sees datetime.h: it makes `PyDateTimeAPI` a static of
// each file that includes it.
#include <datetime.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace sunindex::python {
namespace {

/// A str made on first use and kept for the process (the module refuses any
/// interpreter but the first): the names used for every record would
/// otherwise be made, hashed and freed again each time.
class InternedName {
 public:
  constexpr explicit InternedName(const char* text) noexcept : text_(text) {}

  /// The str; null with the exception set when it could not be made.
  PyObject* get() noexcept {
    if (str_ == nullptr) str_ = PyUnicode_InternFromString(text_);
    return str_;
  }

 private:
  const char* text_;
  PyObject* str_ = nullptr;  // never released
};

InternedName datetime_name{"datetime"};
InternedName datetime_c_api_name{"datetime_CAPI"};
InternedName year_name{"year"};
InternedName month_name{"month"};
InternedName day_name{"day"};

// The keys of a record dict; "date" is also the name of the type in `datetime`.
InternedName date_key{"date"};
InternedName f10_7_obs_key{"f10_7_obs"};
InternedName f10_7_adj_key{"f10_7_adj"};
InternedName f10_7_jb_key{"f10_7_jb"};
InternedName f10_7_jb_81c_key{"f10_7_jb_81c"};
InternedName ap_daily_key{"ap_daily"};
InternedName ap_3hr_key{"ap_3hr"};
InternedName kp_3hr_key{"kp_3hr"};
InternedName s10_7_key{"s10_7"};
InternedName m10_7_key{"m10_7"};
InternedName y10_7_key{"y10_7"};
InternedName dtc_key{"dtc"};

/// The keys of a record dict, in their order.
const std::array<InternedName*, 12> record_keys{
    &date_key,     &f10_7_obs_key, &f10_7_adj_key, &f10_7_jb_key, &f10_7_jb_81c_key, &ap_daily_key,
    &ap_3hr_key,   &kp_3hr_key,    &s10_7_key,     &m10_7_key,    &y10_7_key,        &dtc_key,
};

/// Every key of a record dict with None, made on first use and kept for the
/// process; null with the exception set when it could not be made.
PyObject* record_dict_template() {
  static PyObject* made = nullptr;  // never released, never handed out
  if (made != nullptr) return made;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (InternedName* key : record_keys) {
    PyObject* name = key->get();
    if (name == nullptr || PyDict_SetItem(dict.get(), name, Py_None) != 0) return nullptr;
  }
  made = dict.release();
  return made;
}

/// A new dict of every record key with None, in their order. A copy of the
/// template is made at its final size in one step, where inserting the keys
/// one by one would grow the table twice.
PyRef new_record_dict() {
  PyObject* dict_template = record_dict_template();
  return dict_template != nullptr ? PyRef::steal(PyDict_Copy(dict_template)) : PyRef{};
}

/// Attribute `name` of `object`; empty with the exception set.
PyRef attribute(PyObject* object, InternedName& name) {
  PyObject* key = name.get();
  return key != nullptr ? PyRef::steal(PyObject_GetAttr(object, key)) : PyRef{};
}

/// The integer value of attribute `name`, or none with the exception set.
std::optional<long> integer_attribute(PyObject* object, InternedName& name) {
  PyRef value = attribute(object, name);
  if (!value) return std::nullopt;
  const long number = PyLong_AsLong(value.get());
  if (number == -1 && PyErr_Occurred()) return std::nullopt;
  return number;
}

void fail_out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}

std::optional<std::uint8_t> byte_attribute(PyObject* object, InternedName& name) {
  const auto value = integer_attribute(object, name);
  if (!value) return std::nullopt;
  if (static_cast<unsigned long>(*value) > 255) {  // a negative value wraps above 255
    fail_out_of_range();
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(*value);
}

/// Sets `key` of a new record dict to `value`; false with the exception set,
/// also when `value` is empty (its failure already set). None is already
/// there, as for every key of a new record dict.
bool set_record_item(PyObject* dict, InternedName& key, const PyRef& value) {
  if (!value) return false;
  if (value.get() == Py_None) return true;
  PyObject* name = key.get();
  return name != nullptr && PyDict_SetItem(dict, name, value.get()) == 0;
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
/// in sys.modules. Looked up for every conversion, never cached: whoever
/// replaces `datetime.date` (or the module) is honoured at the next one. The
/// sys.modules lookup is what the import would do for a loaded module, at a
/// fraction of its cost, which matters once per date.
PyRef datetime_module() {
  PyObject* name = datetime_name.get();
  if (name == nullptr) return {};
  PyObject* loaded = PyDict_GetItemWithError(PyImport_GetModuleDict(), name);  // borrowed
  // None marks a blocked import: let the import machinery raise for it.
  if (loaded != nullptr && loaded != Py_None) return PyRef::borrow(loaded);
  if (PyErr_Occurred()) return {};
  return PyRef::steal(PyImport_Import(name));
}

/// The C API of `datetime`, read from the capsule that `module` holds and
/// kept for the process (its types are the interpreter's own); null while
/// unknown. Not through PyDateTime_IMPORT: that import would run the import
/// system (an `__import__` hook, a blocked or replaced module), where this
/// must have no side effect.
const PyDateTime_CAPI* datetime_c_api(PyObject* module) {
  if (PyDateTimeAPI != nullptr) return PyDateTimeAPI;
  PyObject* name = datetime_c_api_name.get();
  PyObject* capsule = name != nullptr ? PyDict_GetItemWithError(PyModule_GetDict(module), name) : nullptr;
  if (capsule != nullptr && PyCapsule_IsValid(capsule, PyDateTime_CAPSULE_NAME)) {
    PyDateTimeAPI = static_cast<PyDateTime_CAPI*>(PyCapsule_GetPointer(capsule, PyDateTime_CAPSULE_NAME));
  }
  PyErr_Clear();  // only a failure to make the name can be pending: the API stays unknown
  return PyDateTimeAPI;
}

/// Whether `date_type` is the C `datetime.date` and `module`, where it was
/// found, a plain module: reading `date` from it again would run no Python
/// code and find the same type. An unknown answer is no.
bool is_c_date_type(PyObject* module, PyObject* date_type) {
  if (!PyModule_CheckExact(module)) return false;
  const PyDateTime_CAPI* api = datetime_c_api(module);
  return api != nullptr && date_type == reinterpret_cast<PyObject*>(api->DateType);
}

/// Before CPython 3.12 an allocation may run a garbage collection, and with
/// it any finalizer, in the middle of a call: there `datetime.date` is looked
/// up for every date even when it was the C type. From 3.12 a collection
/// waits until the interpreter next runs Python code.
constexpr bool collection_may_run_within_calls = PY_VERSION_HEX < 0x030C0000;

/// `date_type(year, month, day)`, whatever `date_type` is.
PyRef call_date_type(PyObject* date_type, CivilDate date) {
  std::array<PyRef, 3> parts{PyRef::steal(PyLong_FromLong(date.year)), PyRef::steal(PyLong_FromLong(date.month)),
                             PyRef::steal(PyLong_FromLong(date.day))};
  for (const auto& part : parts) {
    if (!part) return {};
  }
  std::array<PyObject*, 3> args{parts[0].get(), parts[1].get(), parts[2].get()};
  return PyRef::steal(PyObject_Vectorcall(date_type, args.data(), args.size(), nullptr));
}

/// A new C `datetime.date`: the same constructor, with the same range checks
/// and messages, that calling the type reaches through its argument parsing.
PyRef new_c_date(CivilDate date) {
  return PyRef::steal(PyDate_FromDate(date.year, date.month, date.day));
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
  const auto year = integer_attribute(object, year_name);
  if (!year) return std::nullopt;
  if (*year < std::numeric_limits<std::int32_t>::min() || *year > std::numeric_limits<std::int32_t>::max()) {
    fail_out_of_range();
    return std::nullopt;
  }
  const auto month = byte_attribute(object, month_name);
  if (!month) return std::nullopt;
  const auto day = byte_attribute(object, day_name);
  if (!day) return std::nullopt;
  return CivilDate{static_cast<std::int32_t>(*year), *month, *day};
}

PyRef DateMaker::make(CivilDate date) {
  if (c_date_type_) return new_c_date(date);
  PyRef module = datetime_module();
  if (!module) return {};
  PyRef date_type = attribute(module.get(), date_key);
  if (!date_type) return {};
  if (is_c_date_type(module.get(), date_type.get())) {
    c_date_type_ = !collection_may_run_within_calls;
    return new_c_date(date);
  }
  return call_date_type(date_type.get(), date);
}

PyRef date_to_python(CivilDate date) { return DateMaker{}.make(date); }

PyRef record_to_dict(const DailyIndices& record, DateMaker& dates) {
  PyRef dict = new_record_dict();
  if (!dict) return {};
  PyObject* d = dict.get();
  const bool filled = set_record_item(d, date_key, dates.make(record.date)) &&
                      set_record_item(d, f10_7_obs_key, optional_float(record.get(Field::f10_7_obs))) &&
                      set_record_item(d, f10_7_adj_key, optional_float(record.get(Field::f10_7_adj))) &&
                      set_record_item(d, f10_7_jb_key, optional_float(record.get(Field::f10_7_jb))) &&
                      set_record_item(d, f10_7_jb_81c_key, optional_float(record.get(Field::f10_7_jb_81c))) &&
                      set_record_item(d, ap_daily_key, optional_float(record.get(Field::ap_daily))) &&
                      set_record_item(d, ap_3hr_key, optional_float_list(record.get(Series::ap_3hr))) &&
                      set_record_item(d, kp_3hr_key, optional_float_list(record.get(Series::kp_3hr))) &&
                      set_record_item(d, s10_7_key, optional_float(record.get(Field::s10_7))) &&
                      set_record_item(d, m10_7_key, optional_float(record.get(Field::m10_7))) &&
                      set_record_item(d, y10_7_key, optional_float(record.get(Field::y10_7))) &&
                      set_record_item(d, dtc_key, optional_float(record.get(Field::dtc)));
  if (!filled) return {};
  return dict;
}

}  // namespace sunindex::python
