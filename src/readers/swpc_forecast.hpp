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
/// publishes, line by line, and nothing else.
///   :Product: 45 Day AP Forecast  45DF.txt
///   :Issued: 2023 Oct 31 2113 UTC          (to the minute, UTC)
///   # ...                                  (any number of lines that begin with '#')
///   45-DAY AP FORECAST
///   01Nov23 008 02Nov23 005 ... 05Nov23 005  (9 lines of 59 bytes: five "DDMonYY NNN", single spaces)
///   45-DAY F10.7 CM FLUX FORECAST
///   01Nov23 148 ...                          (9 lines, the same days)
///   FORECASTER: ...                          (any names)
///   99999
///   NNNN                                     (the last line)
/// Lines end with LF or CR LF, as every reader's text rules allow; blank
/// lines and text after NNNN are refused. Two-digit years are 20YY. The
/// Ap block names 45 consecutive days, the first within 45 days of the
/// issue day; the F10.7 block names the same. Ap is an integer 0-400,
/// F10.7 an integer 0-999 (the field's three digits); the file has no
/// missing marker. A layout that differs is an error naming its line (1-based;
/// 0 for an empty file), never numbers. Does not throw but std::bad_alloc.
Result<SwpcForecast> parse_swpc_forecast(std::string_view content);

}  // namespace sunindex
