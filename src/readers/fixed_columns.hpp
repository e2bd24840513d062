#pragma once

// The line walks and the fixed-column fields shared by the fixed-width
// files (SOLFSMY.TXT, DTCFILE.TXT, GFZ's Kp and Hpo files). A field is a
// byte range of the untrimmed line, counted from its first byte; its
// content is trimmed before it is parsed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

/// Where the fast path reads the field of `width` bytes at `first`, and
/// `width` narrowed to at most 8: a wider field is read from its last 8
/// bytes when the bytes before them are spaces, which trimming drops anyway.
/// Nullptr when the field holds more than 8 bytes of text or 8 bytes cannot
/// be read there.
inline const char* fast_field(const DataLine& line, std::size_t first, std::size_t& width) noexcept {
  const char* field = line.text.data() + first;
  for (; width > 8; --width, ++field) {
    if (*field != ' ') return nullptr;
  }
  return line.buffer_end - field >= 8 ? field : nullptr;
}

/// A field as a signed 32-bit integer.
inline bool int_column(const DataLine& line, std::size_t first, std::size_t width, std::int32_t& value) noexcept {
  std::size_t fast_width = width;
  if (const char* field = fast_field(line, first, fast_width)) {
    if (const auto fast = text::parse_right_aligned_int32(field, fast_width)) {
      value = *fast;
      return true;
    }
  }
  return int_column_general(line.text, first, width, value);
}

/// A day-of-year field as an unsigned 16-bit integer.
inline bool doy_column(const DataLine& line, std::size_t first, std::size_t width, std::uint16_t& value) noexcept {
  std::size_t fast_width = width;
  if (const char* field = fast_field(line, first, fast_width)) {
    if (const auto fast = text::parse_right_aligned_unsigned(field, fast_width, 65535)) {
      value = static_cast<std::uint16_t>(*fast);
      return true;
    }
  }
  return doy_column_general(line.text, first, width, value);
}

/// A field in the decimal number syntax.
inline bool float_column(const DataLine& line, std::size_t first, std::size_t width, double& value) noexcept {
  std::size_t fast_width = width;
  if (const char* field = fast_field(line, first, fast_width)) {
    if (const auto fast = text::parse_right_aligned_decimal(field, fast_width)) {
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

/// Where a format keeps a line's year, month and day.
struct CalendarColumns {
  std::size_t year_first, year_width;
  std::size_t month_first, month_width;
  std::size_t day_first, day_width;
};

/// Sets `date` from the line's year, month and day columns; or returns the
/// failing check's label: "year", "month", "day", then strict_date_fault's
/// ("year outside 1-9999", "invalid date"), in that order.
inline const char* read_calendar_date(const DataLine& line, const CalendarColumns& columns, CivilDate& date) noexcept {
  std::int32_t year = 0, month = 0, day = 0;
  if (!int_column(line, columns.year_first, columns.year_width, year)) return "year";
  if (!int_column(line, columns.month_first, columns.month_width, month)) return "month";
  if (!int_column(line, columns.day_first, columns.day_width, day)) return "day";
  // A month or day beyond what the date's fields hold is no calendar day;
  // 0 says so without wrapping into one.
  const bool fits = month >= 1 && month <= 12 && day >= 1 && day <= 31;
  date = {year, static_cast<std::uint8_t>(fits ? month : 0), static_cast<std::uint8_t>(fits ? day : 0)};
  return strict_date_fault(date);
}

/// How to read the records of a text that opens with a header of lines
/// beginning with '#' (any number of them, none too) and goes on with data
/// lines of one width, one record per line, each strictly after the one
/// before. `read_key(line, record)` sets what orders the record (its date,
/// its interval) or returns the failing column's label; `in_order(before,
/// after)` tells whether `after` comes strictly after `before`;
/// `read_values(line, record)` sets the rest or returns what is wrong (a
/// std::optional<std::string>). The record's `row` is set by the read.
template <class ReadKey, class InOrder, class ReadValues>
struct HeadedLayout {
  std::size_t line_length;  // bytes before the line end
  const char* order_fault;  // the error of a record not after the one before
  ReadKey read_key;
  InOrder in_order;
  ReadValues read_values;
};
// Spelled out for compilers without the deduction of an aggregate's arguments (clang before 17).
template <class ReadKey, class InOrder, class ReadValues>
HeadedLayout(std::size_t, const char*, ReadKey, InOrder, ReadValues) -> HeadedLayout<ReadKey, InOrder, ReadValues>;

/// The records a part of a headed text gave, and whether it failed.
template <class Record>
struct HeadedPart {
  std::vector<Record> records;
  bool failed = false;
};

/// Reads the data lines of `part` (whole lines after the header) into
/// `out`, or returns the first error, rows counted from 1 within the part:
/// the part's LineFault after the lines before it, a '#' line, a line of
/// another width, or a column's. A line gets its record as soon as its key
/// is read, so that the caller can check the second part's first line
/// against the first part's last.
template <class Record, class Layout>
std::optional<DataError> read_headed_part(std::string_view part, const char* buffer_end, const Layout& layout,
                                          HeadedPart<Record>& out) {
  const std::optional<text::LineFault> fault = text::first_line_fault(part);
  text::LineCursor lines(fault ? part.substr(0, fault->offset) : part);
  out.records.reserve(part.size() / (layout.line_length + 1));  // a no-op for the first part, sized for all
  std::string_view text;
  const auto failure = [&out](std::uint64_t row, std::string message) {
    out.failed = true;
    return DataError::parse(row, std::move(message));
  };
  while (lines.next(text)) {
    const std::uint64_t row = lines.line_number();
    if (!text.empty() && text.front() == '#') return failure(row, "a '#' line after the data began");
    if (text.size() != layout.line_length) {
      return failure(row, "line length " + std::to_string(text.size()) + ", expected " +
                              std::to_string(layout.line_length));
    }
    const DataLine line{text, buffer_end};
    Record& record = out.records.emplace_back();  // filled in place: no copy per line
    record.row = row;
    if (const char* label = layout.read_key(line, record)) {
      out.records.pop_back();  // no key, nothing to order
      return failure(row, label);
    }
    const std::size_t count = out.records.size();
    if (count > 1 && !layout.in_order(out.records[count - 2], record)) return failure(row, layout.order_fault);
    if (auto problem = layout.read_values(line, record)) return failure(row, std::move(*problem));
  }
  if (fault) return failure(fault->line_number, fault->message);
  return std::nullopt;
}

/// The records of a headed text (see HeadedLayout), in file order, or the
/// first error in file order at its 1-based line: a header line that
/// first_line_fault() refuses, then the data lines' errors. Long texts are
/// read by two threads (line_chunks::read_in_two); the first line of the
/// second part is then checked against the last of the first, as one walk
/// would.
template <class Record, class Layout>
Result<std::vector<Record>> read_headed_records(std::string_view content, const ReadOptions& options,
                                                const Layout& layout) {
  text::LineCursor lines(content);
  std::string_view text;
  std::uint64_t header_lines = 0;
  std::size_t body_start = 0;
  while (lines.next(text) && !text.empty() && text.front() == '#') {
    ++header_lines;
    body_start = content.size() - lines.rest().size();
  }
  if (const auto fault = text::first_line_fault(content.substr(0, body_start))) {
    return DataError::parse(fault->line_number, fault->message);
  }
  const std::string_view body = content.substr(body_start);
  HeadedPart<Record> first, second;
  first.records.reserve(body.size() / (layout.line_length + 1));  // every data line takes that much
  const char* const buffer_end = content.data() + content.size();
  auto error = line_chunks::read_in_two(
      body, options, header_lines,
      [&](std::string_view part, HeadedPart<Record>& out) { return read_headed_part(part, buffer_end, layout, out); },
      first, second);
  if (first.failed) return std::move(*error);
  // Where the second part begins: one line per record of the first, which read all its lines.
  const std::uint64_t second_first_row = header_lines + first.records.size() + 1;
  if (!first.records.empty() && !second.records.empty() &&
      !layout.in_order(first.records.back(), second.records.front())) {
    return DataError::parse(second_first_row, layout.order_fault);
  }
  if (error) return std::move(*error);
  for (Record& record : first.records) record.row += header_lines;
  for (Record& record : second.records) record.row += second_first_row - 1;
  first.records.insert(first.records.end(), second.records.begin(), second.records.end());
  return std::move(first.records);
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
