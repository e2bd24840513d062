#pragma once

// GFZ Potsdam's Hpo indices, Hp30/ap30 and Hp60/ap60: one fixed-width line
// per half-hour or hour interval, after a header of '#' lines.

#include <cstdint>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/civil_date.hpp"
#include "store/data_error.hpp"

namespace sunindex {

/// The interval length of an Hpo file.
enum class HpoCadence : std::uint8_t {
  minutes30 = 48,  // Hp30: 48 intervals a day
  minutes60 = 24,  // Hp60: 24 intervals a day
};
constexpr std::size_t intervals_per_day(HpoCadence cadence) noexcept { return static_cast<std::size_t>(cadence); }

/// One interval, holding from its start to the next interval's start. A
/// value the file marks missing (Hp -1.000, ap -1) is a quiet NaN.
struct HpoInterval {
  CivilDate date;
  std::uint8_t slot;  // 0 is the interval starting at 00:00 UT
  double hp;          // open-ended: above 9 in strong storms
  double ap;
  std::uint64_t row;  // the line it was read from, counted from 1
};

/// Reads an Hpo file of the given cadence (its whole content), strictly: the
/// lines that begin with '#' before the first that does not are its header (any
/// number of them); every later line is a data line of 59 bytes, LF or CR LF
/// ended, in UTF-8. Its start hour must lie on the cadence's grid (00.0, 00.5,
/// ... for Hp30; 00.0, 01.0, ... for Hp60), its middle hour half an interval
/// later, its two days columns the start's and the middle's days since 1932 to
/// five decimals, and the interval strictly after the line before (intervals
/// may be missing). A file of the other cadence thus fails at its first data
/// line. Hp is a whole number of thirds to three decimals from 0 to 99.999, ap
/// an integer from 0 to 9999 (the columns' widths), D 0. Returns the intervals
/// in file order (none for a text without data lines), or the first error in
/// file order naming its line. `options` choose only how the work is done (a
/// long text is read by two threads), never the result. Does not throw but for
/// std::bad_alloc.
Result<std::vector<HpoInterval>> parse_gfz_hpo(std::string_view content, HpoCadence cadence,
                                               const ReadOptions& options = {});

}  // namespace sunindex
