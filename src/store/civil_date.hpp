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
    // Days before each month, and the year's length last. A month has at
    // most 31 days, so (day - 1) / 31 is the month itself or the one before.
    constexpr std::array<std::array<std::uint16_t, 13>, 2> days_before{{
        {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
        {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
    }};
    const auto& before = days_before[is_leap_year(year) ? 1 : 0];
    if (day_of_year == 0 || day_of_year > before[12]) return std::nullopt;
    unsigned month = (day_of_year - 1u) / 31u;  // 0-based
    if (day_of_year > before[month + 1]) ++month;
    return CivilDate{year, static_cast<std::uint8_t>(month + 1), static_cast<std::uint8_t>(day_of_year - before[month])};
  }

  /// Whether the day exists in its month (the fields alone allow 31 February).
  constexpr bool is_calendar_day() const noexcept {
    if (month < 1 || month > 12 || day < 1) return false;
    constexpr std::array<std::uint8_t, 12> month_lengths{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day <= month_lengths[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
  }

  /// Days since 1970-01-01 (negative before it), for a calendar day.
  constexpr std::int64_t to_days() const noexcept {
    // Counts in 400-year eras that start on 1 March, so that the leap day
    // is the last day of an era's year and needs no special case.
    const std::int64_t y = std::int64_t{year} - (month <= 2);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t year_of_era = y - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
  }

  /// The date `days` after 1970-01-01; the inverse of to_days() for every
  /// date whose year fits the field.
  static constexpr CivilDate from_days(std::int64_t days) noexcept {
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t day_of_era = z - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const auto day = static_cast<std::uint8_t>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month = static_cast<std::uint8_t>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {static_cast<std::int32_t>(year_of_era + era * 400 + (month <= 2)), month, day};
  }

  /// The instant `hour`:`minute`:`second` plus `microsecond` of this calendar
  /// day in UTC, as microseconds since 1970-01-01 00:00 UTC: the one way a
  /// file's stamp becomes an instant.
  constexpr std::int64_t utc_microseconds(std::int64_t hour, std::int64_t minute, std::int64_t second,
                                          std::int64_t microsecond = 0) const noexcept {
    return ((to_days() * 24 + hour) * 60 + minute) * 60'000'000 + second * 1'000'000 + microsecond;
  }

  static constexpr bool is_leap_year(std::int32_t year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  }
};

}  // namespace sunindex
