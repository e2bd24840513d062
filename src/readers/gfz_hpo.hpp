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

/// Reads an Hpo file of the given cadence (its whole content), strictly:
/// lines of the published width, each interval's start on the cadence's
/// grid and strictly after the one before. Returns the intervals in file
/// order, or the first error naming its line.
Result<std::vector<HpoInterval>> parse_gfz_hpo(std::string_view content, HpoCadence cadence,
                                               const ReadOptions& options = {});

}  // namespace sunindex
