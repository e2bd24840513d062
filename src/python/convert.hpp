#pragma once

#include "python_common/py_ref.hpp"
#include "store/civil_date.hpp"
#include "store/daily_indices.hpp"

#include <optional>
#include <string_view>

namespace sunindex::python {

/// A new str of ASCII `text`. Built directly: the general UTF-8 decoder
/// costs more than the copy, and every record dict needs twelve of these.
PyRef ascii_string(std::string_view text);

/// Inserts `value` into `dict` under a new str `key`; false with the
/// exception set, also when `value` is empty (its failure already set).
bool set_item(PyObject* dict, std::string_view key, const PyRef& value);

/// The date of any object with integer `year`, `month` and `day` attributes,
/// read in that order; none with the interpreter's exception set.
std::optional<CivilDate> date_from_python(PyObject* object);

/// A new `datetime.date` of `date`, looked up afresh each time, so a
/// replaced `datetime.date` is honoured; empty with the exception set.
PyRef date_to_python(CivilDate date);

/// The twelve-key dict of one record, None for absent values; empty with the
/// exception set.
PyRef record_to_dict(const DailyIndices& record);

}  // namespace sunindex::python
