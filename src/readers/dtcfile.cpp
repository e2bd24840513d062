#include "readers/dtcfile.hpp"

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

constexpr std::size_t min_line_length = 109;
constexpr std::size_t first_hour = 13;
constexpr std::size_t hour_width = 4;
constexpr std::size_t hours_per_day = 24;

}  // namespace

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content) {
  auto walk = fixed_columns::DataLines::of(content);
  if (!walk.ok()) return std::move(walk.error());
  auto& lines = walk.value();

  std::vector<DailyIndices> records;
  records.reserve(content.size() / 110);  // published lines are 109 bytes and a LF
  std::uint64_t row = 0;
  std::string_view line;
  while (lines.next(row, line)) {
    if (auto error = fixed_columns::check_line_length(line, min_line_length, row)) return std::move(*error);
    auto date = fixed_columns::parse_year_doy_columns(line, 4, 4, 8, 5, row);
    if (!date.ok()) return std::move(date.error());
    DailyIndices& record = records.emplace_back();  // filled in place: no copy per row
    record.date = date.value();
    // Four-character integers: the sum is exact, so the mean is the nearest
    // double to the true mean.
    double sum = 0.0;
    for (std::size_t hour = 0; hour < hours_per_day; ++hour) {
      auto value = fixed_columns::parse_int_column(line, first_hour + hour_width * hour, hour_width, row, "Dtc");
      if (!value.ok()) return std::move(value.error());
      sum += value.value();
    }
    record.dtc = sum / double(hours_per_day);
  }
  return records;
}

}  // namespace sunindex
