#pragma once

#include <string_view>
#include <vector>

#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// Reads a DTCFILE.TXT file (its whole content) into one record per data line,
/// in file order, whose `dtc` is the mean of the line's 24 hourly values; or
/// returns the first parse error, naming its row and column.
Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content);

}  // namespace sunindex
