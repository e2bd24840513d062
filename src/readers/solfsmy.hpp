#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// The 81-day centred values and the source flags of a SOLFSMY line, which
/// the daily record has no place for.
struct SolfsmyRowExtras {
  double s81c;                 // S10.7, 81-day centred
  double m81c;                 // M10.7, 81-day centred
  double y81c;                 // Y10.7, 81-day centred; NaN on a line that ends before it
  std::array<char, 4> source;  // Ssrc, one flag per index; spaces on a line that ends before it
};

/// Reads a SOLFSMY.TXT file (its whole content) into one record per data line,
/// in file order, each with F10.7, F81c, S10.7, M10.7 and Y10.7; or returns the
/// first parse error, naming its row and column.
Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, const ReadOptions& options = {});
/// The same read, which also appends to `extras` one entry per record, in the
/// same order; a bad S81c, M81c, Y81c or Ssrc fails the line like any other value.
Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, std::vector<SolfsmyRowExtras>& extras,
                                                 const ReadOptions& options = {});

}  // namespace sunindex
