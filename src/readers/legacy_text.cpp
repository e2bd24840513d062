#include "readers/legacy_text.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <string>

#include "common/concurrently.hpp"
#include "readers/fixed_columns.hpp"
#include "readers/month_names.hpp"
#include "readers/text.hpp"

namespace sunindex {
namespace {

using fixed_columns::DataLine;

// FORMAT(I4,I3,I3,I5,I3,8I3,I4,8I4,I4,F4.1,I2,I4,F6.1,I2,5F6.1): every data
// line is exactly this long, blank fields included.
constexpr std::size_t data_line_length = 130;

/// The sections, in the order a file holds them.
enum class Section : std::uint8_t {
  observed,           // daily observations; Q tells OBS from INT
  daily_predicted,    // the days after the observations
  monthly_predicted,  // the 1st of each month after them (empty in AGI's files)
  monthly_fit,        // AGI's only: the predicted days again, then months
};
constexpr std::array<std::string_view, 4> section_names{"OBSERVED", "DAILY_PREDICTED", "MONTHLY_PREDICTED",
                                                        "MONTHLY_FIT"};
/// Every file has the sections before MONTHLY_FIT.
constexpr auto last_required_section = Section::monthly_predicted;

std::string_view name_of(Section section) noexcept { return section_names[static_cast<std::size_t>(section)]; }

/// A number field of the data line, bytes [first, first + width); the format
/// writes it as an integer (I) or a decimal (F).
struct Column {
  std::uint8_t first, width;
  bool integer;
};

/// What a number field holds.
enum class Reading : std::uint8_t {
  value,  // a number of the field's kind
  blank,  // white space only: the value is absent
  bad,    // anything else
};

/// Reads a field into `value`. The shared column readers answer for every
/// number; only a field they refuse is looked at again, for blanks.
[[gnu::always_inline]] inline Reading read_number(const DataLine& line, Column column, double& value) noexcept {
  if (column.integer) {
    std::int32_t number = 0;
    if (fixed_columns::int_column(line, column.first, column.width, number)) {
      value = number;
      return Reading::value;
    }
  } else if (fixed_columns::float_column(line, column.first, column.width, value)) {
    return Reading::value;
  }
  return fixed_columns::column_text(line.text, column.first, column.width).empty() ? Reading::blank : Reading::bad;
}

/// A value of the daily record, named in errors as the CSV's header names it.
struct FieldColumn {
  Column column;
  Field field;
  const char* label;
};
constexpr std::array<FieldColumn, 2> field_columns{{
    {{92, 6, false}, Field::f10_7_adj, "F10.7_ADJ"},
    {{112, 6, false}, Field::f10_7_obs, "F10.7_OBS"},
}};

/// A value the daily record has no place for.
struct ExtraColumn {
  Column column;
  CelestrakExtra extra;  // named in errors as the CSV's header names it (a literal, so .data() ends it)
};
constexpr std::array<ExtraColumn, 9> extra_columns{{
    {{10, 5, true}, CelestrakExtra::bsrn},
    {{15, 3, true}, CelestrakExtra::nd},
    {{82, 4, false}, CelestrakExtra::cp},
    {{86, 2, true}, CelestrakExtra::c9},
    {{88, 4, true}, CelestrakExtra::isn},
    {{100, 6, false}, CelestrakExtra::f107_adj_center81},
    {{106, 6, false}, CelestrakExtra::f107_adj_last81},
    {{118, 6, false}, CelestrakExtra::f107_obs_center81},
    {{124, 6, false}, CelestrakExtra::f107_obs_last81},
}};

constexpr Column q_column{98, 2, true};

// A series is set only when all eight of its fields hold a value, as the
// CSV reader sets it: whole or absent.

/// The eight Kp, 3-byte integers from byte 18, 00-03 UT first.
constexpr std::size_t kp_first = 18, kp_width = 3;
constexpr std::array<const char*, 8> kp_labels{"KP1", "KP2", "KP3", "KP4", "KP5", "KP6", "KP7", "KP8"};

/// Sets the record's Kp; or returns the label of a field that does not parse.
const char* read_kp(const DataLine& line, DailyIndices& record) noexcept {
  ThreeHourly values;
  std::size_t present = 0;
  for (std::size_t slot = 0; slot < values.size(); ++slot) {
    switch (read_number(line, {static_cast<std::uint8_t>(kp_first + kp_width * slot), kp_width, true}, values[slot])) {
      case Reading::value: ++present; break;
      case Reading::blank: break;
      case Reading::bad: return kp_labels[slot];
    }
  }
  if (present == values.size()) record.set(Series::kp_3hr, values);
  return nullptr;
}

/// KP_SUM, the eight ap and Ap: ten 4-byte integers side by side from byte
/// 42, which one word reads two at a time.
constexpr std::size_t four_wide_first = 42, four_wide_count = 10;
constexpr std::array<const char*, four_wide_count> four_wide_labels{"KP_SUM", "AP1", "AP2", "AP3", "AP4",
                                                                    "AP5",    "AP6", "AP7", "AP8", "AP_AVG"};

/// Sets KP_SUM in `extras`, and the ap and Ap of `record`; or returns the
/// label of a field that does not parse.
const char* read_four_wide(const DataLine& line, DailyIndices& record, CelestrakRowExtras& extras) noexcept {
  std::array<double, four_wide_count> values;
  unsigned present = 0;  // a bit per field
  for (std::size_t i = 0; i < four_wide_count; i += 2) {
    std::int32_t first = 0, second = 0;
    // The pair lies inside the line, so its 8 bytes are always readable.
    if (text::parse_right_aligned_int32_pair(line.text.data() + four_wide_first + 4 * i, first, second)) {
      values[i] = first, values[i + 1] = second;
      present |= 3u << i;
      continue;
    }
    for (std::size_t k = i; k < i + 2; ++k) {  // a blank among them, or a fault
      switch (read_number(line, {static_cast<std::uint8_t>(four_wide_first + 4 * k), 4, true}, values[k])) {
        case Reading::value: present |= 1u << k; break;
        case Reading::blank: break;
        case Reading::bad: return four_wide_labels[k];
      }
    }
  }
  if (present & 1u) extras.set(CelestrakExtra::kp_sum, values[0]);
  constexpr unsigned every_ap = 0x1FE;
  if ((present & every_ap) == every_ap) {
    ThreeHourly ap;
    std::copy(values.begin() + 1, values.begin() + 9, ap.begin());
    record.set(Series::ap_3hr, ap);
  }
  if (present & 1u << 9) record.set(Field::ap_daily, values[9]);
  return nullptr;
}

/// The type a row's Q gives it: in OBSERVED it must be written, 0 for the
/// flux as measured and 1-5 for one adjusted, approximated or filled in
/// (CelesTrak writes 4 for a day it interpolated; AGI also wrote 1, 2 and
/// 5); elsewhere it may be blank. Returns false for any other Q.
bool read_quality(const DataLine& line, Section section, F107DataType& type) noexcept {
  double q = 0;
  const Reading reading = read_number(line, q_column, q);
  if (reading == Reading::blank) return section != Section::observed;
  if (reading == Reading::bad || q < 0 || q > 5) return false;
  if (section == Section::observed) type = q == 0 ? F107DataType::observed : F107DataType::interpolated;
  return true;
}

/// Sets `date` from the line's year, month and day; or returns the label of
/// the failing check.
const char* read_date(const DataLine& line, CivilDate& date) noexcept {
  std::int32_t year = 0, month = 0, day = 0;
  if (!fixed_columns::int_column(line, 0, 4, year)) return "year";
  if (!fixed_columns::int_column(line, 4, 3, month) || month < 1 || month > 12) return "month";
  if (!fixed_columns::int_column(line, 7, 3, day) || day < 1 || day > 31) return "day";
  date = CivilDate{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  return strict_date_fault(date);
}

/// Reads a data line of `section` (130 bytes) into `record` and `extras`,
/// the data type too except in MONTHLY_FIT, where it depends on the daily
/// prediction; or returns the label of what fails.
const char* read_data_line(const DataLine& line, Section section, DailyIndices& record,
                           CelestrakRowExtras& extras) noexcept {
  if (const char* label = read_date(line, record.date)) return label;
  for (const ExtraColumn& column : extra_columns) {
    double value = 0;
    const Reading reading = read_number(line, column.column, value);
    if (reading == Reading::bad) return celestrak_extra_names[static_cast<std::size_t>(column.extra)].data();
    if (reading == Reading::value) extras.set(column.extra, value);
  }
  if (const char* label = read_kp(line, record)) return label;
  if (const char* label = read_four_wide(line, record, extras)) return label;
  for (const FieldColumn& column : field_columns) {
    double value = 0;
    const Reading reading = read_number(line, column.column, value);
    if (reading == Reading::bad) return column.label;
    if (reading == Reading::value) record.set(column.field, value);
  }
  constexpr std::array<F107DataType, 4> type_of_section{F107DataType::observed, F107DataType::predicted_daily,
                                                        F107DataType::predicted_monthly, F107DataType::unknown};
  extras.data_type = type_of_section[static_cast<std::size_t>(section)];
  if (!read_quality(line, section, extras.data_type)) return "Q";
  return nullptr;
}

/// A line of the header or between the sections: its first word, and the
/// rest without white space around it.
struct KeywordLine {
  std::string_view keyword, value;
};

KeywordLine split_keyword(std::string_view line) noexcept {
  line = text::trim(line);
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), text::trim(line.substr(space + 1))};
}

std::optional<Section> section_named(std::string_view name) noexcept {
  for (std::size_t s = 0; s < section_names.size(); ++s) {
    if (section_names[s] == name) return static_cast<Section>(s);
  }
  return std::nullopt;
}

/// Whether `s` is `min` to `max` ASCII digits.
bool is_digits(std::string_view s, std::size_t min, std::size_t max) noexcept {
  if (s.size() < min || s.size() > max) return false;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

/// The value of a field that is_digits() has checked (at most 9 digits).
std::int64_t digits_value(std::string_view s) noexcept {
  return static_cast<std::int64_t>(*text::parse_unsigned(s, 999'999'999));
}

/// Microseconds since 1970-01-01 UTC of an UPDATED stamp: "2025 Jul 21
/// 10:37:15 UTC" as CelesTrak writes it, or "2020 Feb 22 06:40:00.01" as
/// AGI did (a fraction of 1 to 6 digits, no zone, UTC all the same).
std::optional<std::int64_t> parse_stamp(std::string_view stamp) noexcept {
  std::array<std::string_view, 5> parts;
  std::size_t count = 0;
  for (;;) {
    if (count == parts.size()) return std::nullopt;
    const std::size_t space = stamp.find(' ');
    parts[count++] = stamp.substr(0, space);
    if (space == std::string_view::npos) break;
    stamp.remove_prefix(space + 1);
  }
  if (count < 4 || (count == 5 && parts[4] != "UTC")) return std::nullopt;
  const auto month = text::month_from_abbreviation(parts[1], text::MonthCase::title);
  if (!is_digits(parts[0], 4, 4) || !month || !is_digits(parts[2], 1, 2)) return std::nullopt;
  const CivilDate date{static_cast<std::int32_t>(digits_value(parts[0])), *month,
                       static_cast<std::uint8_t>(digits_value(parts[2]))};
  if (strict_date_fault(date)) return std::nullopt;

  // HH:MM:SS, then the fraction of the second.
  const std::string_view time = parts[3];
  if (time.size() < 8 || time[2] != ':' || time[5] != ':') return std::nullopt;
  const std::string_view hour = time.substr(0, 2), minute = time.substr(3, 2), second = time.substr(6, 2);
  if (!is_digits(hour, 2, 2) || !is_digits(minute, 2, 2) || !is_digits(second, 2, 2)) return std::nullopt;
  if (digits_value(hour) > 23 || digits_value(minute) > 59 || digits_value(second) > 59) return std::nullopt;
  std::int64_t microseconds = 0;
  if (time.size() > 8) {
    const std::string_view fraction = time.substr(9);
    if (time[8] != '.' || !is_digits(fraction, 1, 6)) return std::nullopt;
    microseconds = digits_value(fraction);
    for (std::size_t d = fraction.size(); d < 6; ++d) microseconds *= 10;
  }
  return date.utc_microseconds(digits_value(hour), digits_value(minute), digits_value(second), microseconds);
}

/// The data lines of one section, or of a run of them, as the walk of the
/// structure found them: every one 130 bytes long.
struct DataLines {
  Section section = Section::observed;
  std::string_view text;         // whole lines, line ends included
  std::uint64_t first_row = 0;   // the row of the first
  std::size_t first_record = 0;  // its record, in file order
  std::size_t count = 0;
};

/// What the walk of the structure finds: the stamp, where the data lines
/// are, and the first fault of the structure.
struct Layout {
  std::optional<std::int64_t> updated_us;
  std::array<DataLines, section_names.size()> sections;  // in file order
  std::size_t section_count = 0;
  std::size_t records = 0;  // the data lines of all sections
  /// A data line from which a second thread may read: the first that starts
  /// at or after the middle of the text, when it is long enough.
  std::optional<DataLines> second_half;
  std::optional<DataError> error;  // every data line before it is listed
};

/// Walks the lines of the text: the header, the lines between the sections
/// and their NUM_, BEGIN and END lines, checked one by one; a data line
/// only for its length, as its fields are read later.
class StructureWalk {
 public:
  /// A second half starts at the first data line at or after `split_from`; none when it is null.
  StructureWalk(std::string_view text, const char* split_from) noexcept : text_(text), split_from_(split_from) {}

  /// Takes line `row` (without its line end); false once the structure fails.
  bool take(std::string_view line, std::uint64_t row) {
    if (expect_ == Expect::data && line.size() == data_line_length) {
      take_data_line(line, row);
      return true;
    }
    std::optional<DataError> error;
    switch (expect_) {
      case Expect::datatype: error = take_header_line(line, row, "DATATYPE", "CssiSpaceWeather"); break;
      case Expect::version: error = take_header_line(line, row, "VERSION", "1.2"); break;
      case Expect::updated: error = take_updated(line, row); break;
      case Expect::between: error = take_between(line, row); break;
      case Expect::begin: error = take_begin(line, row); break;
      case Expect::data: error = take_end(line, row); break;
    }
    if (error) stop(line.data(), std::move(*error));
    return !error;
  }

  /// The layout of a text that ends after line `last_row` (0: an empty text),
  /// cut short by `fault` when given.
  Layout finish(std::uint64_t last_row, std::optional<DataError> fault) && {
    if (!layout_.error) stop(text_.data() + text_.size(), fault ? std::move(*fault) : end_error(last_row));
    return std::move(layout_);
  }

 private:
  /// What the next line may be.
  enum class Expect : std::uint8_t {
    datatype,  // the first line
    version,   // the second
    updated,   // the UPDATED stamp, or what may follow the header
    between,   // blank and '#' lines, or a section's NUM_..._POINTS
    begin,     // the open section's BEGIN (in MONTHLY_FIT, its MONTHLY_FIT_TYPE first)
    data,      // a data line of the open section, or its END
  };

  /// Ends the walk at the line that starts at `at`: the open section's data
  /// lines are those before it. A text that keeps its structure to the end
  /// has no error.
  void stop(const char* at, std::optional<DataError> error) {
    if (expect_ == Expect::data) close_open_section(at);
    layout_.error = std::move(error);
  }

  std::optional<DataError> end_error(std::uint64_t last_row) const {
    if (last_row == 0) return DataError::parse(0, "empty file");
    switch (expect_) {
      case Expect::datatype:
      case Expect::version: return DataError::parse(last_row, "the file ends in its header");
      case Expect::begin:
        return DataError::parse(last_row, "the file ends before BEGIN " + std::string(name_of(open_)));
      case Expect::data: return DataError::parse(last_row, "the file ends inside " + std::string(name_of(open_)));
      case Expect::updated:
      case Expect::between: break;
    }
    if (!done_ || *done_ < last_required_section) {
      return DataError::parse(last_row, "the file ends before section " + std::string(name_of(due())));
    }
    return std::nullopt;
  }

  Section due() const noexcept { return static_cast<Section>(done_ ? static_cast<std::size_t>(*done_) + 1 : 0); }

  std::optional<DataError> take_header_line(std::string_view line, std::uint64_t row, std::string_view keyword,
                                            std::string_view value) {
    const KeywordLine words = split_keyword(line);
    if (words.keyword != keyword || words.value != value) {
      return DataError::parse(row, "expected " + std::string(keyword) + " " + std::string(value));
    }
    expect_ = expect_ == Expect::datatype ? Expect::version : Expect::updated;
    return std::nullopt;
  }

  std::optional<DataError> take_updated(std::string_view line, std::uint64_t row) {
    expect_ = Expect::between;
    const KeywordLine words = split_keyword(line);
    if (words.keyword != "UPDATED") return take_between(line, row);
    layout_.updated_us = parse_stamp(words.value);
    if (!layout_.updated_us) return DataError::parse(row, "UPDATED: expected a stamp such as 2025 Jul 21 10:37:15 UTC");
    return std::nullopt;
  }

  std::optional<DataError> take_between(std::string_view line, std::uint64_t row) {
    const std::string_view content = text::trim_front(line);
    if (content.empty() || content.front() == '#') return std::nullopt;
    const KeywordLine words = split_keyword(line);
    constexpr std::string_view num = "NUM_", points = "_POINTS";
    const std::string_view keyword = words.keyword;
    if (!keyword.starts_with(num) || !keyword.ends_with(points) || keyword.size() < num.size() + points.size()) {
      return DataError::parse(row, "a line outside the sections");
    }
    const std::string_view name = keyword.substr(num.size(), keyword.size() - num.size() - points.size());
    const auto section = section_named(name);
    if (!section) return DataError::parse(row, "unknown section " + std::string(name));
    if (done_ == Section::monthly_fit || *section != due()) {
      return DataError::parse(row, "section " + std::string(name) + " out of order");
    }
    const auto announced = text::parse_unsigned(words.value, std::numeric_limits<std::uint32_t>::max());
    if (!announced) return DataError::parse(row, std::string(keyword) + ": expected the number of lines");
    open_ = *section;
    announced_ = *announced;
    type_line_seen_ = false;
    expect_ = Expect::begin;
    return std::nullopt;
  }

  std::optional<DataError> take_begin(std::string_view line, std::uint64_t row) {
    const KeywordLine words = split_keyword(line);
    // AGI names the fit it made on a line of its own.
    if (open_ == Section::monthly_fit && !type_line_seen_ && words.keyword == "MONTHLY_FIT_TYPE" &&
        !words.value.empty()) {
      type_line_seen_ = true;
      return std::nullopt;
    }
    if (words.keyword != "BEGIN" || words.value != name_of(open_)) {
      return DataError::parse(row, "expected BEGIN " + std::string(name_of(open_)));
    }
    lines_ = DataLines{open_, {}, row + 1, layout_.records, 0};
    // Until its first data line, the section's lines start after BEGIN's.
    lines_start_ = line.data() + line.size();
    expect_ = Expect::data;
    return std::nullopt;
  }

  std::optional<DataError> take_end(std::string_view line, std::uint64_t row) {
    const KeywordLine words = split_keyword(line);
    if (words.keyword != "END") {
      // A data line begins with its year, a keyword line with a letter.
      const bool keyword_line = !line.empty() && ((line.front() | 0x20) >= 'a' && (line.front() | 0x20) <= 'z');
      if (keyword_line) return DataError::parse(row, "expected END " + std::string(name_of(open_)));
      return DataError::parse(row, "line length " + std::to_string(line.size()) + ", expected " +
                                       std::to_string(data_line_length));
    }
    if (words.value != name_of(open_)) return DataError::parse(row, "expected END " + std::string(name_of(open_)));
    if (lines_.count != announced_) {
      return DataError::parse(row, std::to_string(lines_.count) + " data lines where NUM_" +
                                       std::string(name_of(open_)) + "_POINTS says " + std::to_string(announced_));
    }
    close_open_section(line.data());
    done_ = open_;
    expect_ = Expect::between;
    return std::nullopt;
  }

  void take_data_line(std::string_view line, std::uint64_t row) noexcept {
    if (lines_.count == 0) lines_start_ = line.data();
    if (split_from_ != nullptr && !layout_.second_half && line.data() >= split_from_) {
      layout_.second_half = DataLines{open_, {line.data(), 0}, row, layout_.records, 0};
    }
    ++lines_.count;
    ++layout_.records;
  }

  /// Lists the open section's data lines, which end where the line at `end` starts.
  void close_open_section(const char* end) noexcept {
    if (lines_.count > 0) lines_.text = {lines_start_, static_cast<std::size_t>(end - lines_start_)};
    layout_.sections[layout_.section_count++] = lines_;
  }

  std::string_view text_;
  const char* split_from_;
  Layout layout_;
  Expect expect_ = Expect::datatype;
  Section open_ = Section::observed;  // the section being read, or announced
  std::optional<Section> done_;       // the last section read to its END
  std::uint64_t announced_ = 0;       // its NUM_..._POINTS
  bool type_line_seen_ = false;
  DataLines lines_;                   // the open section's data lines so far
  const char* lines_start_ = nullptr;
};

/// The layout of `readable`, the text before its first LineFault `fault`
/// (the whole text when none). A second half is found only in a text of
/// at least `parallel_from_bytes`.
Layout walk_structure(std::string_view readable, std::optional<DataError> fault, std::size_t parallel_from_bytes) {
  const bool two_halves = readable.size() >= parallel_from_bytes;
  const char* const split_from = two_halves ? readable.data() + readable.size() / 2 : nullptr;
  StructureWalk walk(readable, split_from);
  text::LineCursor lines(readable);
  std::string_view line;
  while (lines.next(line)) {
    if (!walk.take(line, lines.line_number())) break;
  }
  return std::move(walk).finish(lines.line_number(), std::move(fault));
}

/// A data line that failed, and its record.
struct LineError {
  std::size_t record;
  DataError error;
};

/// Reads the data lines of `lines` into records appended to `out`, up to
/// and with the first that fails; the error, if any.
std::optional<LineError> read_lines(const DataLines& lines, const char* buffer_end, LegacyText& out) {
  text::LineCursor cursor(lines.text);
  std::string_view text;
  for (std::size_t i = 0; i < lines.count && cursor.next(text); ++i) {
    const std::uint64_t row = lines.first_row + i;
    const std::size_t record = lines.first_record + i;
    DailyIndices& indices = out.records.emplace_back();  // filled in place: no copy per line
    CelestrakRowExtras& extras = out.extras.emplace_back(CelestrakRowExtras::absent(row));
    if (const char* label = read_data_line(DataLine{text, buffer_end}, lines.section, indices, extras)) {
      return LineError{record, DataError::parse(row, label)};
    }
  }
  return std::nullopt;
}

/// The runs of data lines from record `begin` to record `end` (exclusive),
/// appended to `out`.
std::optional<LineError> read_records(const Layout& layout, std::size_t begin, std::size_t end,
                                     const char* buffer_end, LegacyText& out) {
  for (std::size_t s = 0; s < layout.section_count; ++s) {
    DataLines lines = layout.sections[s];
    if (lines.first_record + lines.count <= begin || lines.first_record >= end) continue;
    if (lines.first_record < begin) {  // from the second half's first line
      const DataLines& half = *layout.second_half;
      lines.text.remove_prefix(static_cast<std::size_t>(half.text.data() - lines.text.data()));
      lines.count -= begin - lines.first_record;
      lines.first_row = half.first_row, lines.first_record = begin;
    }
    lines.count = std::min(lines.count, end - lines.first_record);  // the text past them is not read
    if (auto error = read_lines(lines, buffer_end, out)) return error;
  }
  return std::nullopt;
}

/// Checks that the dates of the first `valid` records rise from line to
/// line, each section's after the one before it; MONTHLY_FIT, which repeats
/// the daily prediction, rises from the observations' last day. Types
/// MONTHLY_FIT's rows on the way: the daily prediction's where the date is
/// one of its days (both rise, so one walk finds them), a month's otherwise.
std::optional<DataError> check_dates_and_type_fit(const Layout& layout, std::size_t valid, LegacyText& out) {
  std::optional<CivilDate> last, last_observed;
  std::size_t daily_first = 0, daily_end = 0;
  for (std::size_t s = 0; s < layout.section_count; ++s) {
    const DataLines& lines = layout.sections[s];
    const std::size_t end = std::min(lines.first_record + lines.count, valid);
    const bool fit = lines.section == Section::monthly_fit;
    if (fit) last = last_observed;
    std::size_t daily = daily_first;
    for (std::size_t r = lines.first_record; r < end; ++r) {
      const CivilDate date = out.records[r].date;
      if (last && !(*last < date)) return DataError::parse(out.extras[r].row, "date not after the line before");
      last = date;
      if (!fit) continue;
      while (daily < daily_end && out.records[daily].date < date) ++daily;
      const bool predicted_day = daily < daily_end && out.records[daily].date == date;
      out.extras[r].data_type = predicted_day ? F107DataType::predicted_daily : F107DataType::predicted_monthly;
    }
    if (lines.section == Section::observed && end > lines.first_record) last_observed = out.records[end - 1].date;
    if (lines.section == Section::daily_predicted) daily_first = lines.first_record, daily_end = end;
  }
  return std::nullopt;
}

}  // namespace

Result<LegacyText> parse_legacy_text(std::string_view content, const ReadOptions& options) {
  // The structure is walked over the lines before a fault of the text as a
  // whole; the fault counts only when nothing before it fails.
  std::string_view readable = content;
  std::optional<DataError> fault_error;
  if (const auto fault = text::first_line_fault(content)) {
    readable = content.substr(0, fault->offset);
    fault_error = DataError::parse(fault->line_number, fault->message);
  }
  const Layout layout = walk_structure(readable, std::move(fault_error), options.parallel_from_bytes);

  LegacyText out;
  out.updated_us = layout.updated_us;
  out.records.reserve(layout.records);  // the final size: the second half is appended in place
  out.extras.reserve(layout.records);
  const char* const buffer_end = content.data() + content.size();
  const std::size_t half = layout.second_half ? layout.second_half->first_record : layout.records;
  std::optional<LineError> head, tail;
  if (half < layout.records) {
    LegacyText second;
    second.records.reserve(layout.records - half);
    second.extras.reserve(layout.records - half);
    run_concurrently([&] { head = read_records(layout, 0, half, buffer_end, out); },
                     [&] { tail = read_records(layout, half, layout.records, buffer_end, second); });
    out.records.insert(out.records.end(), second.records.begin(), second.records.end());
    out.extras.insert(out.extras.end(), second.extras.begin(), second.extras.end());
  } else {
    head = read_records(layout, 0, layout.records, buffer_end, out);
  }
  // The first error in file order: a date out of order before the first
  // line that failed, that line, then what the structure found after them.
  std::optional<LineError>& failed = head ? head : tail;
  if (auto error = check_dates_and_type_fit(layout, failed ? failed->record : layout.records, out)) {
    return std::move(*error);
  }
  if (failed) return std::move(failed->error);
  if (layout.error) return *layout.error;
  return out;
}

}  // namespace sunindex
