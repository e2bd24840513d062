#pragma once

// A Python datetime or date as microseconds since 1970-01-01T00:00 UTC: the
// one conversion of an aware datetime to UTC, which the package's Python
// calls too. Only epoch_ticks.cpp sees datetime.h, whose C API table is per
// file.

#include <cstdint>
#include <optional>

#include "python_common/py_ref.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// Microseconds in a day: the clock of epoch_microseconds.
inline constexpr std::int64_t microseconds_per_day = 86'400'000'000;

/// Loads datetime's C API; false with the exception set.
bool load_datetime();

/// The instant of a datetime (an aware one converted to UTC, a naive one
/// taken as UTC) or the midnight of a date; none with TypeError set when
/// `object` is neither, or with utcoffset()'s exception when that fails.
std::optional<std::int64_t> epoch_microseconds(PyObject* object);

/// utc_microseconds(moment) -> int: epoch_microseconds for Python.
PyObject* utc_microseconds(PyObject* module, PyObject* moment) noexcept;

}  // namespace sunindex::tools_python
