#pragma once

// The line walk and the fixed-column fields shared by SOLFSMY.TXT and
// DTCFILE.TXT. A field is a byte range of the untrimmed line, counted from
// its first byte; its content is trimmed before it is parsed.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "readers/text.hpp"
#include "store/civil_date.hpp"
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

/// The date of a line from its year and day-of-year columns: "year", "doy"
/// or "invalid day-of-year" at `row` on failure, in that order.
Result<CivilDate> parse_year_doy_columns(std::string_view line, std::size_t year_first,
                                         std::size_t year_width, std::size_t doy_first,
                                         std::size_t doy_width, std::uint64_t row);

/// "line too short" at `row` unless `line` has at least `min_length` bytes.
std::optional<DataError> check_line_length(std::string_view line, std::size_t min_length, std::uint64_t row);

}  // namespace sunindex::fixed_columns
