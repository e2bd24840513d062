#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>

namespace sunindex {

/// A day of the proleptic Gregorian calendar. Holds exactly the numbers it is
/// given: each producer checks what it builds. Ordered by year (signed), then
/// month, then day, which the defaulted comparison gives from the field order.
struct CivilDate {
  std::int32_t year = 0;
  std::uint8_t month = 1;
  std::uint8_t day = 1;

  friend constexpr auto operator<=>(const CivilDate&, const CivilDate&) = default;

  /// The date of day `day_of_year` (1 is 1 January) of `year`; none when the
  /// day is 0 or beyond the year's last day. Leap years follow the Gregorian
  /// rule, negative years included (year 0 and -400 are leap years).
  static constexpr std::optional<CivilDate> from_day_of_year(std::int32_t year,
                                                             std::uint16_t day_of_year) noexcept {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr std::array<std::uint8_t, 12> month_lengths{31, 28, 31, 30, 31, 30,
                                                         31, 31, 30, 31, 30, 31};
    unsigned remaining = day_of_year;
    if (remaining == 0) return std::nullopt;
    for (std::uint8_t month = 1; month <= 12; ++month) {
      const unsigned length = month_lengths[month - 1] + (month == 2 && leap ? 1 : 0);
      if (remaining <= length) return CivilDate{year, month, static_cast<std::uint8_t>(remaining)};
      remaining -= length;
    }
    return std::nullopt;
  }
};

}  // namespace sunindex
