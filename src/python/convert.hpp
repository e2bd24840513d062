#pragma once

#include "python_common/py_ref.hpp"
#include "store/civil_date.hpp"
#include "store/daily_indices.hpp"

#include <optional>
#include <string_view>

namespace sunindex::python {

/// A new str of ASCII `text`. Built directly: the general UTF-8 decoder
/// costs more than the copy.
PyRef ascii_string(std::string_view text);

/// Inserts `value` into `dict` under a new str `key`; false with the
/// exception set, also when `value` is empty (its failure already set).
bool set_item(PyObject* dict, std::string_view key, const PyRef& value);

/// The date of any object with integer `year`, `month` and `day` attributes,
/// read in that order; none with the interpreter's exception set.
std::optional<CivilDate> date_from_python(PyObject* object);

/// Makes the dates of one call. The first date looks up `datetime.date` as
/// every conversion does. When that finds the C type in a plain module, the
/// rest of the call makes its dates directly: nothing in between runs Python
/// code that could replace it, so another lookup could find nothing else
/// (before CPython 3.12, where a garbage collection may run finalizers in
/// between, every date is looked up). Any other `datetime.date` (a subclass,
/// a function) is looked up afresh for every date, since each of its calls
/// may replace it.
class DateMaker {
 public:
  /// A new date of `date`; empty with the exception set.
  PyRef make(CivilDate date);

 private:
  bool c_date_type_ = false;  // a lookup found the C type, kept for the rest of the call
};

/// A new `datetime.date` of `date`, looked up afresh each time, so a
/// replaced `datetime.date` is honoured; empty with the exception set.
PyRef date_to_python(CivilDate date);

/// The twelve-key dict of one record, None for absent values, its date made
/// by `dates`; empty with the exception set.
PyRef record_to_dict(const DailyIndices& record, DateMaker& dates);

}  // namespace sunindex::python
