#include "readers/fixed_columns.hpp"

namespace sunindex::fixed_columns {

Result<DataLines> DataLines::of(std::string_view content) {
  if (!text::is_valid_utf8(content)) return DataError::parse(0, "invalid utf-8");
  return DataLines(content);
}

bool DataLines::next(std::uint64_t& row, std::string_view& line) noexcept {
  while (lines_.next(line)) {
    const std::string_view content = text::trim(line);
    if (content.empty() || content.front() == '#') continue;
    row = lines_.line_number();
    return true;
  }
  return false;
}

DataError column_error(std::uint64_t row, const char* label) { return DataError::parse(row, label); }

Result<CivilDate> parse_date_columns(std::string_view line, const DateLayout& layout, std::uint64_t row) {
  auto year = parse_int_column(line, layout.year_first, layout.year_width, row, "year");
  if (!year.ok()) return std::move(year.error());
  auto doy = parse_doy_column(line, layout.doy_first, layout.doy_width, row);
  if (!doy.ok()) return std::move(doy.error());
  if (const auto date = CivilDate::from_day_of_year(year.value(), doy.value())) return *date;
  return DataError::parse(row, "invalid day-of-year");
}

std::optional<DataError> check_line_length(std::string_view line, std::size_t min_length, std::uint64_t row) {
  if (line.size() >= min_length) return std::nullopt;
  return DataError::parse(row, "line too short");
}

}  // namespace sunindex::fixed_columns
