#pragma once

// Epochs as integer ticks since 1970-01-01T00:00 UTC, split into a UTC day and
// the ticks into it with integer arithmetic only, so that 02:59:59.999999999
// can never round into the next 3-hour slot.

#include <cstdint>
#include <limits>

namespace sunindex::timeline {

/// The tick that stands for "not a time" (NumPy's NaT).
inline constexpr std::int64_t not_a_time = std::numeric_limits<std::int64_t>::min();

/// A clock of `ticks_per_day` ticks per day (1 for days, 86'400'000'000 for
/// microseconds; at most 86'400 * 10^9).
class TickClock {
 public:
  explicit TickClock(std::int64_t ticks_per_day) noexcept
      : ticks_per_day_(ticks_per_day), days_per_tick_(1.0 / static_cast<double>(ticks_per_day)) {}

  std::int64_t ticks_per_day() const noexcept { return ticks_per_day_; }

  /// An instant's UTC day (days since 1970-01-01) and the ticks into it.
  struct Split {
    std::int64_t day;
    std::int64_t ticks_in_day;  // in [0, ticks_per_day)
  };

  /// Splits `ticks` (not not_a_time). A multiply by the reciprocal, then one
  /// exact correction: an integer division per epoch costs more than the
  /// rest of an epoch's work.
  Split split(std::int64_t ticks) const noexcept {
    // A double's rounding of the ticks moves the day by at most one, but near
    // the ends of int64 the products below would overflow: divide there.
    constexpr std::int64_t exact_limit = std::int64_t{1} << 62;
    if (ticks > exact_limit || ticks < -exact_limit) return split_exactly(ticks);
    // Truncation, then down by one for negative non-integers: a floor that
    // stays inline where std::floor would be a library call per epoch.
    const double days = static_cast<double>(ticks) * days_per_tick_;
    auto day = static_cast<std::int64_t>(days);
    day -= days < static_cast<double>(day);
    // The product is off by at most one day, so one step mends it.
    std::int64_t rest = ticks - day * ticks_per_day_;
    if (rest < 0) {
      --day;
      rest += ticks_per_day_;
    } else if (rest >= ticks_per_day_) {
      ++day;
      rest -= ticks_per_day_;
    }
    return {day, rest};
  }

  /// floor(parts * ticks_in_day / ticks_per_day): which of `parts` equal
  /// parts of the day holds the instant, for ticks_in_day in [0, ticks_per_day).
  int part_of_day(std::int64_t ticks_in_day, int parts) const noexcept {
    const std::int64_t scaled = ticks_in_day * parts;  // below 2^53 for every clock allowed
    auto part = static_cast<std::int64_t>(static_cast<double>(scaled) * days_per_tick_);
    if (part * ticks_per_day_ > scaled) --part;
    else if ((part + 1) * ticks_per_day_ <= scaled) ++part;
    return static_cast<int>(part);
  }

  /// The fraction of the day that has passed at `ticks_in_day`, in [0, 1);
  /// exactly 0 at midnight.
  double fraction_of_day(std::int64_t ticks_in_day) const noexcept { return fraction_of_part(ticks_in_day, 1, 0); }

  /// The fraction of a part that has passed at `ticks_in_day`, in [0, 1):
  /// one correctly rounded division of exact integers, so that an instant
  /// gives the same fraction in every unit it can be written in.
  double fraction_of_part(std::int64_t ticks_in_day, int parts, int part) const noexcept {
    const std::int64_t into_part = ticks_in_day * parts - part * ticks_per_day_;
    return static_cast<double>(into_part) / static_cast<double>(ticks_per_day_);
  }

 private:
  Split split_exactly(std::int64_t ticks) const noexcept {
    std::int64_t day = ticks / ticks_per_day_, rest = ticks % ticks_per_day_;
    if (rest < 0) {
      --day;
      rest += ticks_per_day_;
    }
    return {day, rest};
  }

  std::int64_t ticks_per_day_;
  double days_per_tick_;
};

/// The 3-hour slot of an instant, 0 for 00:00 to 02:59:59.999...
inline int slot_of(const TickClock& clock, std::int64_t ticks_in_day) noexcept {
  return clock.part_of_day(ticks_in_day, 8);
}

}  // namespace sunindex::timeline
