#pragma once

// GFZ Potsdam's Kp_ap_Ap_SN_F107 files (since 1932, yearly, nowcast): one
// fixed-width line per UT day, after a header of '#' lines.

#include <cstdint>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/civil_date.hpp"
#include "store/daily_indices.hpp"
#include "store/data_error.hpp"

namespace sunindex {

/// One day of a GFZ file. A value the file marks missing (Kp -1.000, ap, Ap
/// and SN -1, F10.7 -1.0) is a quiet NaN.
struct GfzDay {
  CivilDate date;
  ThreeHourly kp;     // in thirds, as published: 2.667 is 2+, 00-03 UT first
  ThreeHourly ap;     // 00-03 UT first
  double ap_daily;    // Ap
  double sn;          // the international sunspot number
  double f107_obs;    // observed F10.7, sfu
  double f107_adj;    // F10.7 adjusted to 1 AU, sfu
  std::uint8_t definitive;  // D: 0 Kp and SN preliminary, 1 Kp definitive, 2 both
  std::uint64_t row;  // the line it was read from, counted from 1
};

/// Reads a GFZ Kp_ap_Ap_SN_F107 file (its whole content), strictly: every
/// line that does not begin with '#' is a data line of the published width,
/// dates strictly increasing. Returns the days in file order, or the first
/// error naming its line.
Result<std::vector<GfzDay>> parse_gfz_kp(std::string_view content, const ReadOptions& options = {});

}  // namespace sunindex
