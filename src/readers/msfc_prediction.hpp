#pragma once

// NASA Marshall Space Flight Center's monthly solar-cycle prediction: "Table 3,
// estimates of 13-month smoothed solar activity", F10.7 and Ap at the 95th,
// 50th and 5th percentiles, one line per month.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "store/data_error.hpp"

namespace sunindex {

/// One month of a prediction; its values hold at 00:00 UTC on the 1st.
struct PredictionMonth {
  std::int32_t year;
  std::uint8_t month;          // 1 to 12
  std::array<double, 3> f107;  // at the 95th, 50th and 5th percentiles, in that order
  std::array<double, 3> ap;    // likewise
  std::uint64_t row;           // the line it was read from, counted from 1
};

/// Reads a prediction (its whole content). The header is every line before
/// the first data line, whatever it says: releases word it differently. A
/// data line begins with a digit; from the first one on, every line is a
/// data line or blank. A data line holds eight fields separated by spaces or
/// tabs: the decimal year, the month's three-letter English name in capitals,
/// then F10.7 and Ap at 95, 50 and 5 %, each from 0 to 10000 and not rising
/// from 95 to 5 %, in a year from 1 to 9999. The decimal
/// year must fall inside the named month, and each month must follow the one
/// before. Returns the months in file order, or the first error naming its
/// line ("no data line" at the last line when there is none). Does not throw
/// but for std::bad_alloc.
Result<std::vector<PredictionMonth>> parse_msfc_prediction(std::string_view content);

}  // namespace sunindex
