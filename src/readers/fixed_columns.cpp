#include "readers/fixed_columns.hpp"

namespace sunindex::fixed_columns {

Result<DataLines> DataLines::of(std::string_view content) {
  if (!text::is_valid_utf8(content)) return DataError::parse(0, "invalid utf-8");
  return DataLines(content);
}

bool DataLines::next(std::uint64_t& row, std::string_view& line) noexcept {
  while (lines_.next(line)) {
    // Blank or a comment: only the first character after the white space tells.
    const std::string_view content = text::trim_front(line);
    if (content.empty() || content.front() == '#') continue;
    row = lines_.line_number();
    return true;
  }
  return false;
}

std::uint64_t row_of_record(std::string_view content, std::size_t index) {
  auto walk = DataLines::of(content);
  if (!walk.ok()) return 0;
  std::uint64_t row = 0;
  std::string_view line;
  for (std::size_t i = 0; i <= index; ++i) {
    if (!walk.value().next(row, line)) return 0;
  }
  return row;
}

bool int_column_general(std::string_view line, std::size_t first, std::size_t width, std::int32_t& value) noexcept {
  const auto parsed = text::parse_int32(column_text(line, first, width));
  if (parsed) value = *parsed;
  return parsed.has_value();
}

bool doy_column_general(std::string_view line, std::size_t first, std::size_t width, std::uint16_t& value) noexcept {
  const auto parsed = text::parse_unsigned(column_text(line, first, width), 65535);
  if (parsed) value = static_cast<std::uint16_t>(*parsed);
  return parsed.has_value();
}

bool float_column_general(std::string_view line, std::size_t first, std::size_t width, double& value) noexcept {
  const auto parsed = text::parse_number(column_text(line, first, width));
  if (parsed) value = *parsed;
  return parsed.has_value();
}

}  // namespace sunindex::fixed_columns
