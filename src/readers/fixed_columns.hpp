#pragma once

// The line walk and the fixed-column fields shared by SOLFSMY.TXT and
// DTCFILE.TXT. A field is a byte range of the untrimmed line, counted from
// its first byte; its content is trimmed before it is parsed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "readers/line_chunks.hpp"
#include "readers/read_options.hpp"
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

/// The row of the data line that gave record `index` (0-based) of a read of
/// `content` that succeeded, for an error found after the read; 0 when
/// there is no such line.
std::uint64_t row_of_record(std::string_view content, std::size_t index);

/// A data line as its fields' readers see it.
struct DataLine {
  std::string_view text;   // untrimmed, without its line end
  const char* buffer_end;  // the end of the bytes that may be read: a field's fast path reads 8 at a time
};

/// The trimmed content of bytes [first, first + width) of `line`, which the
/// caller has checked to be long enough.
inline std::string_view column_text(std::string_view line, std::size_t first, std::size_t width) noexcept {
  return text::trim({line.data() + first, width});
}

// The column readers set `value` and return true, or return false for a
// field that does not parse; the caller names the column. The caller has
// checked that the field lies inside the line. The fast path answers for the
// plain fields of published files, the general path (out of line) for
// everything else. A flag and an out parameter rather than an optional: the
// optionals of the two paths were merged through memory, a stall per field.

bool int_column_general(std::string_view line, std::size_t first, std::size_t width, std::int32_t& value) noexcept;
bool doy_column_general(std::string_view line, std::size_t first, std::size_t width, std::uint16_t& value) noexcept;
bool float_column_general(std::string_view line, std::size_t first, std::size_t width, double& value) noexcept;

/// Whether 8 bytes can be read from the field at `first`.
inline bool fast_readable(const DataLine& line, std::size_t first) noexcept {
  return line.buffer_end - (line.text.data() + first) >= 8;
}

/// A field as a signed 32-bit integer.
inline bool int_column(const DataLine& line, std::size_t first, std::size_t width, std::int32_t& value) noexcept {
  if (fast_readable(line, first)) {
    if (const auto fast = text::parse_right_aligned_int32(line.text.data() + first, width)) {
      value = *fast;
      return true;
    }
  }
  return int_column_general(line.text, first, width, value);
}

/// A day-of-year field as an unsigned 16-bit integer.
inline bool doy_column(const DataLine& line, std::size_t first, std::size_t width, std::uint16_t& value) noexcept {
  if (fast_readable(line, first)) {
    if (const auto fast = text::parse_right_aligned_unsigned(line.text.data() + first, width, 65535)) {
      value = static_cast<std::uint16_t>(*fast);
      return true;
    }
  }
  return doy_column_general(line.text, first, width, value);
}

/// A field in the decimal number syntax.
inline bool float_column(const DataLine& line, std::size_t first, std::size_t width, double& value) noexcept {
  if (fast_readable(line, first)) {
    if (const auto fast = text::parse_right_aligned_decimal(line.text.data() + first, width)) {
      value = *fast;
      return true;
    }
  }
  return float_column_general(line.text, first, width, value);
}

/// Where a format keeps a line's date, and how long its lines must be.
struct DateLayout {
  std::size_t min_line_length;
  std::size_t max_line_length;  // in a strict read, only white space may follow
  const char* too_long;         // a strict read's error for a line with more
  std::size_t year_first, year_width;
  std::size_t doy_first, doy_width;
  std::size_t typical_line_bytes;  // to size the result once for published files
};

/// Sets `date` from the line's year and day-of-year columns; or returns the
/// failing check's label: "year", "doy" or "invalid day-of-year", in that
/// order.
inline const char* read_date(const DataLine& line, const DateLayout& layout, CivilDate& date) noexcept {
  std::int32_t year = 0;
  if (!int_column(line, layout.year_first, layout.year_width, year)) return "year";
  std::uint16_t doy = 0;
  if (!doy_column(line, layout.doy_first, layout.doy_width, doy)) return "doy";
  const auto day = CivilDate::from_day_of_year(year, doy);
  if (!day) return "invalid day-of-year";
  // Field by field: a copy of the whole optional's bytes went through memory
  // in pieces, a store-forwarding stall per line.
  date.year = day->year, date.month = day->month, date.day = day->day;
  return nullptr;
}

/// For a read that keeps nothing beside the records.
struct NoExtras {};

/// What a read of some lines gives: a record per data line, and as many
/// extras unless the caller keeps none.
template <class Extra>
struct DatedRecords {
  static constexpr bool keeps_extras = !std::is_same_v<Extra, NoExtras>;
  std::vector<DailyIndices> records;
  std::vector<Extra> extras;
};

/// Whether a strict read refuses `line` for text past the layout's last column.
inline bool has_text_after_last_column(std::string_view line, const DateLayout& layout) noexcept {
  return line.size() > layout.max_line_length && !text::trim(line.substr(layout.max_line_length)).empty();
}

/// Reads the data lines of `part` (whole lines of a text that ends at
/// `buffer_end`) into `out`, or returns the first error, rows counted from 1
/// within the part. Each line is checked for length and dated by `layout`;
/// then `read_values(line, record, extra)` fills the record's values (and
/// the extra, if kept) and returns the failing column's label, or nullptr.
/// A `strict` read reads the lines before the part's first LineFault, then
/// reports the fault, and checks each line's end and date as well.
template <class Extra, class ReadValues>
std::optional<DataError> read_part(std::string_view part, const char* buffer_end, const DateLayout& layout,
                                   bool strict, const ReadValues& read_values, DatedRecords<Extra>& out) {
  std::optional<text::LineFault> fault;
  if (strict) {
    fault = text::first_line_fault(part);
    if (fault) part = part.substr(0, fault->offset);
  }
  auto walk = DataLines::of(part);
  if (!walk.ok()) return std::move(walk.error());
  DataLines& lines = walk.value();
  // A no-op for the first part, already sized for the whole text.
  out.records.reserve(part.size() / layout.typical_line_bytes);
  if constexpr (DatedRecords<Extra>::keeps_extras) out.extras.reserve(part.size() / layout.typical_line_bytes);

  std::uint64_t row = 0;
  std::string_view text;
  Extra unkept{};  // the extras of a read that keeps none
  while (lines.next(row, text)) {
    if (text.size() < layout.min_line_length) return DataError::parse(row, "line too short");
    if (strict && has_text_after_last_column(text, layout)) return DataError::parse(row, layout.too_long);
    const DataLine line{text, buffer_end};
    CivilDate date;
    if (const char* label = read_date(line, layout, date)) return DataError::parse(row, label);
    if (strict) {
      if (const char* date_fault = strict_date_fault(date)) return DataError::parse(row, date_fault);
    }
    DailyIndices& record = out.records.emplace_back();  // filled in place: no copy per line
    record.date = date;
    Extra* extra = &unkept;
    if constexpr (DatedRecords<Extra>::keeps_extras) extra = &out.extras.emplace_back();
    if (const char* label = read_values(line, record, *extra)) return DataError::parse(row, label);
  }
  if (fault) return DataError::parse(fault->line_number, fault->message);
  return std::nullopt;
}

/// The records of a fixed-column file, one per data line in file order, or
/// the first error; the extras are appended to `*extras` when it is given.
/// Long files are read by two threads (see line_chunks::read_in_two).
template <class Extra, class ReadValues>
Result<std::vector<DailyIndices>> read_dated_lines(std::string_view content, const DateLayout& layout,
                                                   const ReadOptions& options, std::vector<Extra>* extras,
                                                   const ReadValues& read_values) {
  const std::size_t estimate = content.size() / layout.typical_line_bytes;
  DatedRecords<Extra> first, second;
  first.records.reserve(estimate);  // the final size: the second part is appended in place
  if (extras) {
    first.extras = std::move(*extras);
    first.extras.reserve(first.extras.size() + estimate);
  }
  const char* const buffer_end = content.data() + content.size();
  auto error = line_chunks::read_in_two(
      content, options, 0,
      [&](std::string_view part, DatedRecords<Extra>& out) {
        return read_part(part, buffer_end, layout, options.strict_structure, read_values, out);
      },
      first, second);
  if (extras) {
    first.extras.insert(first.extras.end(), second.extras.begin(), second.extras.end());
    *extras = std::move(first.extras);
  }
  if (error) return std::move(*error);
  first.records.insert(first.records.end(), second.records.begin(), second.records.end());
  return std::move(first.records);
}

}  // namespace sunindex::fixed_columns
