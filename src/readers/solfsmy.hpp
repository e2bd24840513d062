#pragma once

#include <string_view>
#include <vector>

#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// Reads a SOLFSMY.TXT file (its whole content) into one record per data line,
/// in file order, each with F10.7, F81c, S10.7, M10.7 and Y10.7; or returns the
/// first parse error, naming its row and column.
Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content);

}  // namespace sunindex
