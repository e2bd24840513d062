#include "readers/dtcfile.hpp"

#include <optional>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are exactly 109 bytes: a tag, the date, 24 hourly values.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 109, .year_first = 4, .year_width = 4, .doy_first = 8, .doy_width = 5,
    .typical_line_bytes = 110};
constexpr std::size_t first_hour = 13;
constexpr std::size_t hour_width = 4;
constexpr std::size_t hours_per_day = 24;

/// The mean of the line's 24 hourly values. Four-character integers sum
/// exactly, so the mean is the double nearest to the true mean.
std::optional<DataError> read_values(std::string_view line, std::uint64_t row, DailyIndices& record) {
  double sum = 0.0;
  for (std::size_t hour = 0; hour < hours_per_day; ++hour) {
    auto value = fixed_columns::parse_int_column(line, first_hour + hour_width * hour, hour_width, row, "Dtc");
    if (!value.ok()) return std::move(value.error());
    sum += value.value();
  }
  record.dtc = sum / double(hours_per_day);
  return std::nullopt;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content) {
  return fixed_columns::read_dated_lines(content, layout, read_values);
}

}  // namespace sunindex
