#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/data_error.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// The 24 values of a line, 00 UT first.
using HourlyDtc = std::array<double, 24>;

/// Reads a DTCFILE.TXT file (its whole content) into one record per data line,
/// in file order, whose `dtc` is the mean of the line's 24 hourly values; or
/// returns the first parse error, naming its row and column.
Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, const ReadOptions& options = {});
/// The same read, which also appends each record's 24 values to `hourly`, in
/// the same order.
Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, std::vector<HourlyDtc>& hourly,
                                                 const ReadOptions& options = {});

}  // namespace sunindex
