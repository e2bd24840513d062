#pragma once

// The line walk and the fixed-column fields shared by SOLFSMY.TXT and
// DTCFILE.TXT. A field is a byte range of the untrimmed line, counted from
// its first byte; its content is trimmed before it is parsed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "readers/text.hpp"
#include "store/civil_date.hpp"
#include "store/daily_indices.hpp"
#include "store/data_error.hpp"

namespace sunindex::fixed_columns {

/// The data lines of a text: lines that are neither blank nor, after
/// trimming, begin with '#'. Rows count every line from 1.
class DataLines {
 public:
  /// Fails with "invalid utf-8" at row 0 when the text is not UTF-8.
  static Result<DataLines> of(std::string_view content);

  /// Moves to the next data line (untrimmed); false at the end.
  bool next(std::uint64_t& row, std::string_view& line) noexcept;

 private:
  explicit DataLines(std::string_view content) noexcept : lines_(content) {}
  text::LineCursor lines_;
};

/// The trimmed content of bytes [first, first + width) of `line`, which the
/// caller has checked to be long enough.
inline std::string_view column_text(std::string_view line, std::size_t first, std::size_t width) noexcept {
  return text::trim({line.data() + first, width});
}

/// The parse error `label` at `row`; out of line, since rows rarely fail.
[[gnu::cold]] DataError column_error(std::uint64_t row, const char* label);

// The column parsers are inline: they run for every field of every line.

/// A field as a signed 32-bit integer, else the parse error `label` at `row`.
/// The caller has checked that the range lies inside the line.
inline Result<std::int32_t> parse_int_column(std::string_view line, std::size_t first, std::size_t width,
                                             std::uint64_t row, const char* label) {
  if (const auto value = text::parse_int32(column_text(line, first, width))) return *value;
  return column_error(row, label);
}

/// A day-of-year field as an unsigned 16-bit integer, else "doy" at `row`.
inline Result<std::uint16_t> parse_doy_column(std::string_view line, std::size_t first, std::size_t width,
                                              std::uint64_t row) {
  if (const auto value = text::parse_unsigned(column_text(line, first, width), 65535)) {
    return static_cast<std::uint16_t>(*value);
  }
  return column_error(row, "doy");
}

/// A field in the decimal number syntax, else the parse error `label`.
inline Result<double> parse_float_column(std::string_view line, std::size_t first, std::size_t width,
                                         std::uint64_t row, const char* label) {
  if (const auto value = text::parse_number(column_text(line, first, width))) return *value;
  return column_error(row, label);
}

/// Where a format keeps a line's date, and how long its lines must be.
struct DateLayout {
  std::size_t min_line_length;
  std::size_t year_first, year_width;
  std::size_t doy_first, doy_width;
  std::size_t typical_line_bytes;  // to size the result once for published files
};

/// The date of a line from its year and day-of-year columns: "year", "doy"
/// or "invalid day-of-year" at `row` on failure, in that order.
Result<CivilDate> parse_date_columns(std::string_view line, const DateLayout& layout, std::uint64_t row);

/// "line too short" at `row` unless `line` has at least `min_length` bytes.
std::optional<DataError> check_line_length(std::string_view line, std::size_t min_length, std::uint64_t row);

/// The records of a fixed-column file, one per data line in file order, or
/// the first error. Each line is checked for length and dated by `layout`;
/// then `read_values(line, row, record)` fills the record's values and
/// returns the line's error, if any.
template <class ReadValues>
Result<std::vector<DailyIndices>> read_dated_lines(std::string_view content, const DateLayout& layout,
                                                   ReadValues read_values) {
  auto walk = DataLines::of(content);
  if (!walk.ok()) return std::move(walk.error());
  DataLines& lines = walk.value();

  std::vector<DailyIndices> records;
  records.reserve(content.size() / layout.typical_line_bytes);
  std::uint64_t row = 0;
  std::string_view line;
  while (lines.next(row, line)) {
    if (auto error = check_line_length(line, layout.min_line_length, row)) return std::move(*error);
    auto date = parse_date_columns(line, layout, row);
    if (!date.ok()) return std::move(date.error());
    DailyIndices& record = records.emplace_back();  // filled in place: no copy per line
    record.date = date.value();
    if (auto error = read_values(line, row, record)) return std::move(*error);
  }
  return records;
}

}  // namespace sunindex::fixed_columns
