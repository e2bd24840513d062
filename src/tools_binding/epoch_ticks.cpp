#include "tools_binding/epoch_ticks.hpp"

#include <datetime.h>

#include "python_common/guard.hpp"
#include "store/civil_date.hpp"

namespace sunindex::tools_python {
namespace {

constexpr std::int64_t microseconds_per_second = 1'000'000;

std::int64_t timedelta_microseconds(PyObject* delta) noexcept {
  return (std::int64_t{PyDateTime_DELTA_GET_DAYS(delta)} * 86'400 + PyDateTime_DELTA_GET_SECONDS(delta)) *
             microseconds_per_second +
         PyDateTime_DELTA_GET_MICROSECONDS(delta);
}

}  // namespace

bool load_datetime() {
  PyDateTime_IMPORT;
  return PyDateTimeAPI != nullptr;
}

std::optional<std::int64_t> epoch_microseconds(PyObject* object) {
  if (!PyDate_Check(object)) {
    PyErr_Format(PyExc_TypeError, "an epoch must be a datetime or a date, not %.200s", Py_TYPE(object)->tp_name);
    return std::nullopt;
  }
  const CivilDate date{PyDateTime_GET_YEAR(object), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(object)),
                       static_cast<std::uint8_t>(PyDateTime_GET_DAY(object))};
  std::int64_t ticks = date.to_days() * microseconds_per_day;
  if (!PyDateTime_Check(object)) return ticks;
  ticks += (std::int64_t{PyDateTime_DATE_GET_HOUR(object)} * 3600 + PyDateTime_DATE_GET_MINUTE(object) * 60 +
            PyDateTime_DATE_GET_SECOND(object)) *
               microseconds_per_second +
           PyDateTime_DATE_GET_MICROSECOND(object);
  if (PyDateTime_DATE_GET_TZINFO(object) == Py_None) return ticks;
  PyRef offset = PyRef::steal(PyObject_CallMethod(object, "utcoffset", nullptr));
  if (!offset) return std::nullopt;
  if (offset.get() == Py_None) return ticks;  // a tzinfo that knows no offset: naive
  if (!PyDelta_Check(offset.get())) {
    PyErr_SetString(PyExc_TypeError, "utcoffset() must return a timedelta or None");
    return std::nullopt;
  }
  return ticks - timedelta_microseconds(offset.get());
}

PyObject* utc_microseconds(PyObject*, PyObject* moment) noexcept {
  return python::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto ticks = epoch_microseconds(moment);
    return ticks ? PyLong_FromLongLong(*ticks) : nullptr;
  });
}

}  // namespace sunindex::tools_python
