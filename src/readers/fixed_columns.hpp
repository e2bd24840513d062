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

/// A field as a signed 32-bit integer, else the parse error `label` at `row`.
/// The caller has checked that the range lies inside the line.
Result<std::int32_t> parse_int_column(std::string_view line, std::size_t first, std::size_t width,
                                      std::uint64_t row, const char* label);

/// A day-of-year field as an unsigned 16-bit integer, else "doy" at `row`.
Result<std::uint16_t> parse_doy_column(std::string_view line, std::size_t first, std::size_t width,
                                       std::uint64_t row);

/// A field in the decimal number syntax, else the parse error `label`.
Result<double> parse_float_column(std::string_view line, std::size_t first, std::size_t width,
                                  std::uint64_t row, const char* label);

/// The date of a line from its year and day-of-year columns: "year", "doy"
/// or "invalid day-of-year" at `row` on failure, in that order.
Result<CivilDate> parse_year_doy_columns(std::string_view line, std::size_t year_first,
                                         std::size_t year_width, std::size_t doy_first,
                                         std::size_t doy_width, std::uint64_t row);

/// "line too short" at `row` unless `line` has at least `min_length` bytes.
std::optional<DataError> check_line_length(std::string_view line, std::size_t min_length, std::uint64_t row);

}  // namespace sunindex::fixed_columns
