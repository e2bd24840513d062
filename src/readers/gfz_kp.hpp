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

/// Reads a GFZ Kp_ap_Ap_SN_F107 file (its whole content), strictly: the lines
/// that begin with '#' before the first that does not are its header (any
/// number of them); every later line is a data line of 158 bytes, LF or CR LF
/// ended, in UTF-8, dated strictly after the line before (days may be missing).
/// A line's days since 1932, days to mid-day and Bartels rotation and day must
/// be its date's; Kp a whole number of thirds to three decimals from 0 to 9; ap
/// and Ap integers from 0 to 400, SN from 0 to 9999, F10.7 from 0 to 999999.9
/// (the columns' widths); D 0, 1 or 2. Returns the days in file order (none for
/// a text without data lines), or the first error in file order naming its
/// line. `options` choose only how the work is done (a long text is read by two
/// threads), never the result. Does not throw but for std::bad_alloc.
Result<std::vector<GfzDay>> parse_gfz_kp(std::string_view content, const ReadOptions& options = {});

}  // namespace sunindex
