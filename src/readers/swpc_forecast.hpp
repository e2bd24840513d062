#pragma once

// NOAA SWPC's 45-day forecast of daily Ap and F10.7 (45-day-ap-forecast.txt).

#include <array>
#include <cstdint>
#include <string_view>

#include "store/civil_date.hpp"
#include "store/data_error.hpp"

namespace sunindex {

/// The forecast's 45 consecutive days, from `first_day`.
struct SwpcForecast {
  static constexpr std::size_t days = 45;
  std::int64_t issued_us;  // the :Issued: instant, microseconds since 1970-01-01 UTC
  CivilDate first_day;
  std::array<double, days> ap;    // daily Ap
  std::array<double, days> f107;  // daily F10.7, sfu
  std::uint64_t first_row;        // the line of the first day's Ap, counted from 1
};

/// Reads a 45-day forecast (its whole content), strictly: the layout SWPC
/// publishes, line by line, both blocks on the same 45 consecutive days. A
/// layout that differs is an error naming its line, never numbers.
Result<SwpcForecast> parse_swpc_forecast(std::string_view content);

}  // namespace sunindex
