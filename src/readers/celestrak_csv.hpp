#pragma once

#include <string_view>
#include <vector>

#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// Reads a CelesTrak daily-index CSV file (its whole content) into one record
/// per data row, in file order, or returns the first error: the header error
/// for invalid UTF-8 or a missing column, "invalid date" at the line's 1-based
/// number for a bad date. Unparsable values are absent, not errors.
Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content);

}  // namespace sunindex
