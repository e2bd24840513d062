#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// How a row's F10.7 was obtained, from its F10.7_DATA_TYPE column, in
/// increasing uncertainty.
enum class F107DataType : std::uint8_t {
  unknown,            // no such column, or a text the file format does not define
  observed,           // "OBS"
  interpolated,       // "INT"
  predicted_daily,    // "PRD"
  predicted_monthly,  // "PRM": one row per month, ahead of the daily rows
};

/// The optional columns of a row that the daily record has no place for.
enum class CelestrakExtra : std::uint8_t {
  bsrn,               // Bartels solar rotation number
  nd,                 // day of the Bartels rotation
  kp_sum,             // sum of the eight Kp, as the file writes it
  cp,                 // daily planetary character
  c9,                 // Cp on a 0-9 scale
  isn,                // international sunspot number
  f107_obs_center81,  // observed F10.7, 81-day mean centred on the day
  f107_obs_last81,    // observed F10.7, 81-day mean ending on the day
  f107_adj_center81,  // adjusted F10.7, 81-day mean centred on the day
  f107_adj_last81,    // adjusted F10.7, 81-day mean ending on the day
  count,              // not a column
};

/// The header name of each CelestrakExtra.
inline constexpr std::array<std::string_view, static_cast<std::size_t>(CelestrakExtra::count)> celestrak_extra_names{
    "BSRN", "ND", "KP_SUM", "CP", "C9", "ISN",
    "F10.7_OBS_CENTER81", "F10.7_OBS_LAST81", "F10.7_ADJ_CENTER81", "F10.7_ADJ_LAST81"};

/// Everything else a CSV row publishes, for callers that want it all. A value
/// the row lacks (no column, empty, a marker, not a number) is a quiet NaN.
struct CelestrakRowExtras {
  std::array<double, static_cast<std::size_t>(CelestrakExtra::count)> values;
  F107DataType data_type;
  std::uint64_t row;  // the line number, for errors found after the read
};

/// Reads a CelesTrak daily-index CSV file (its whole content) into one record
/// per data row, in file order, or returns the first error: the header error
/// for invalid UTF-8 or a missing column, "invalid date" at the line's 1-based
/// number for a bad date. Unparsable values are absent, not errors. A strict
/// read (ReadOptions::strict_structure) also refuses, at their rows, what
/// the options name; the header's row is 1.
Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, const ReadOptions& options = {});
/// The same read, which also fills `extras` (empty before) with one entry per record, in
/// the same order.
Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, std::vector<CelestrakRowExtras>& extras,
                                                      const ReadOptions& options = {});

}  // namespace sunindex
