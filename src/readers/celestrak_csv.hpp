#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/data_error.hpp"
#include "store/daily_indices.hpp"
#include "store/fill_absent.hpp"

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
/// The F10.7_DATA_TYPE text of each F107DataType, empty for unknown.
inline constexpr std::array<std::string_view, 5> f107_data_type_names{"", "OBS", "INT", "PRD", "PRM"};

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
/// is present where the row gave a number, a NaN included, as in the daily
/// record; one the row lacks (no column, empty, a marker, not a number) is
/// absent, and its value a quiet NaN.
struct CelestrakRowExtras {
  using Bits = std::uint16_t;
  static_assert(static_cast<std::size_t>(CelestrakExtra::count) <= 16, "one presence bit per extra");

  std::array<double, static_cast<std::size_t>(CelestrakExtra::count)> values;
  Bits present;  // bit per CelestrakExtra
  F107DataType data_type;
  std::uint64_t row;  // the line number, for errors found after the read

  /// A row of `row` with every value absent and its data type unknown.
  static constexpr CelestrakRowExtras absent(std::uint64_t row) noexcept {
    CelestrakRowExtras extras{};
    extras.values.fill(std::numeric_limits<double>::quiet_NaN());
    extras.row = row;
    return extras;
  }

  static constexpr Bits bit(CelestrakExtra extra) noexcept {
    return static_cast<Bits>(1u << static_cast<unsigned>(extra));
  }
  constexpr bool has(CelestrakExtra extra) const noexcept { return (present & bit(extra)) != 0; }
  constexpr void set(CelestrakExtra extra, double value) noexcept {
    values[static_cast<std::size_t>(extra)] = value;
    present |= bit(extra);
  }
  /// Takes over every value absent here and present in `later`, and its data
  /// type when this row's is unknown; present values and the row never change.
  constexpr void fill_absent_from(const CelestrakRowExtras& later) noexcept {
    present = fill_absent(present, later.present, [&](unsigned index) { values[index] = later.values[index]; });
    if (data_type == F107DataType::unknown) data_type = later.data_type;
  }
};

/// The value columns a read with extras parses: a caller may take those it
/// needs at once and the rest later. Every row's date and, in a strict read,
/// its structure are read and checked whatever is chosen, so that two reads
/// of complementary choices succeed or fail together, and together give
/// every value of one read of all.
struct CelestrakValues {
  bool f10_7_obs = true, f10_7_adj = true, ap_daily = true, ap_3hr = true, kp_3hr = true, data_type = true;
  CelestrakRowExtras::Bits extras = (1u << static_cast<unsigned>(CelestrakExtra::count)) - 1;

  /// Every column this choice leaves out, and none it takes.
  constexpr CelestrakValues complement() const noexcept {
    constexpr CelestrakRowExtras::Bits every_extra = CelestrakValues{}.extras;
    return {!f10_7_obs, !f10_7_adj, !ap_daily, !ap_3hr, !kp_3hr, !data_type,
            static_cast<CelestrakRowExtras::Bits>(every_extra & ~extras)};
  }
};

/// Reads a CelesTrak daily-index CSV file (its whole content) into one record
/// per data row, in file order, or returns the first error: the header error
/// for invalid UTF-8 or a missing column, "invalid date" at the line's 1-based
/// number for a bad date. Unparsable values are absent, not errors. A strict
/// read (ReadOptions::strict_structure) also refuses, at their rows, what
/// the options name; the header's row is 1.
Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, const ReadOptions& options = {});
/// The same read, which also fills `extras` (empty before) with one entry per record, in
/// the same order, parsing the values `values` names; the others are absent.
Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, std::vector<CelestrakRowExtras>& extras,
                                                      const ReadOptions& options = {}, const CelestrakValues& values = {});

}  // namespace sunindex
