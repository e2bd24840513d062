#pragma once

// ISO 8601 epochs as text: the forms datetime.fromisoformat of CPython 3.11 to
// 3.13 reads, and the instant it gives, with the seconds' fraction kept to the
// nanosecond instead of cut at the microsecond. Callers accept what Python's
// own parser accepts, so this one follows its quirks as well as its rules.

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "store/data_error.hpp"
#include "timeline/epoch.hpp"

namespace sunindex::timeline {

/// Why a text is not an epoch.
enum class IsoEpochError {
  not_iso_8601,         // not a date or date-time that datetime.fromisoformat takes
  too_many_digits,      // more than nine digits after the second
  beyond_nanoseconds,   // needs nanoseconds, but int64 nanoseconds cannot hold the instant
};

/// An instant read from text.
struct IsoEpoch {
  std::int64_t ticks;  // since 1970-01-01T00:00 UTC: nanoseconds when `nanoseconds`, else microseconds
  bool nanoseconds;    // the seconds carry seven to nine fraction digits
};

/// The epoch `text` names, as UTF-8: a date (YYYY-MM-DD, YYYYMMDD, YYYY-Www-D,
/// YYYYWwwD, the day optional) alone or followed by any one character and a
/// time (hh, hh:mm, hh:mm:ss, hhmm, hhmmss, a '.' or ',' fraction of 1 to 9
/// digits) with an optional 'Z' or +/-hh[:mm[:ss[.f]]] offset, converted to
/// UTC; "NaT" is not_a_time in microseconds. Does not throw or allocate.
Result<IsoEpoch, IsoEpochError> parse_iso_epoch(std::string_view text) noexcept;

/// `microseconds` as nanoseconds, not_a_time kept; none where int64
/// nanoseconds cannot hold them (the minimum is not_a_time, so it is no instant).
constexpr std::optional<std::int64_t> microseconds_to_nanoseconds(std::int64_t microseconds) noexcept {
  if (microseconds == not_a_time) return not_a_time;
  constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 1000;
  if (microseconds > limit || microseconds < -limit) return std::nullopt;
  return microseconds * 1000;
}

}  // namespace sunindex::timeline
