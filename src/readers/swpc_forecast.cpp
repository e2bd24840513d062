#include "readers/swpc_forecast.hpp"

#include <optional>
#include <string>

#include "readers/fixed_columns.hpp"
#include "readers/month_names.hpp"
#include "readers/read_options.hpp"
#include "readers/text.hpp"

namespace sunindex {
namespace {

// The published layout, line by line. SWPC has announced changes to its text
// products: every line is matched whole, so that a changed layout fails at
// its first changed line instead of being read as numbers.
constexpr std::string_view product_line = ":Product: 45 Day AP Forecast  45DF.txt";
constexpr std::string_view forecaster_prefix = "FORECASTER:";  // then the forecasters' names, whatever they are
constexpr std::string_view closing_lines[] = {"99999", "NNNN"};

// ":Issued: 2023 Oct 31 2113 UTC": the fields at fixed places, single spaces between.
constexpr std::string_view issued_prefix = ":Issued: ";
constexpr std::string_view issued_suffix = " UTC";
constexpr std::size_t issued_year = 9, issued_month = 14, issued_day = 18, issued_time = 21;
constexpr std::size_t issued_length = 29;

// A block line: five "DDMonYY NNN" pairs, one space after each but the last.
constexpr std::size_t pairs_per_line = 5;
constexpr std::size_t lines_per_block = SwpcForecast::days / pairs_per_line;
constexpr std::size_t pair_stride = 12;
constexpr std::size_t date_width = 7, value_first = 8, value_width = 3;
constexpr std::size_t block_line_length = pairs_per_line * pair_stride - 1;

/// What a block holds and the values it may give. Daily Ap is a mean of
/// 3-hour ap, which stops at 400 by definition. F10.7 has no such ceiling:
/// a flare-lit day has measured well above 400 sfu, so any value the three
/// digits can write is taken.
struct Block {
  std::string_view heading;
  std::string_view end;     // what a file that ends inside the block lacks
  bool names_days;          // the first block names the days, the second must repeat them
  const char* range_fault;  // the message for a value that is not an integer in range
  std::int32_t largest;
};
constexpr Block ap_block{"45-DAY AP FORECAST", "the end of the Ap block", true, "Ap not an integer 0-400", 400};
constexpr Block f107_block{"45-DAY F10.7 CM FLUX FORECAST", "the end of the F10.7 block", false,
                           "F10.7 not an integer 0-999", 999};

/// The lines of a forecast in file order, under the shared text rules: a
/// line that breaks one (not UTF-8, a CR inside, no line end at the end of
/// the file) is an error at that line when the read reaches it, so that
/// every error names the first line at fault.
class ForecastLines {
 public:
  explicit ForecastLines(std::string_view content) noexcept
      : lines_(content), fault_(text::first_line_fault(content)) {}

  /// Moves to the next line; or returns the error there: the line's fault,
  /// or the end of the file before `expected`, at the last line.
  std::optional<DataError> next(std::string_view& line, std::string_view expected) {
    if (!lines_.next(line)) return DataError::parse(row(), "the file ends before " + std::string(expected));
    if (fault_ && fault_->line_number == row()) return DataError::parse(row(), fault_->message);
    return std::nullopt;
  }

  /// Whether the file has a line after the one last returned.
  bool more() const noexcept { return !lines_.rest().empty(); }

  /// The line last returned, counted from 1.
  std::uint64_t row() const noexcept { return lines_.line_number(); }

 private:
  text::LineCursor lines_;
  std::optional<text::LineFault> fault_;
};

/// Moves to the next line, which must read `expected` exactly.
std::optional<DataError> expect_line(ForecastLines& lines, std::string_view expected) {
  std::string_view line;
  if (auto error = lines.next(line, expected)) return error;
  if (line != expected) return DataError::parse(lines.row(), "expected '" + std::string(expected) + "'");
  return std::nullopt;
}

/// The value of a field of digits only: SWPC pads its dates with zeros, so
/// a sign (which parse_unsigned alone would take) is not this layout.
std::optional<std::uint64_t> digits(std::string_view field, std::uint64_t largest) noexcept {
  if (field.empty() || field.front() == '+') return std::nullopt;
  return text::parse_unsigned(field, largest);
}

/// The calendar day of a year, month and day as read, or none when one
/// did not read or the day does not exist.
std::optional<CivilDate> calendar_day(std::optional<std::uint64_t> year, std::optional<std::uint8_t> month,
                                      std::optional<std::uint64_t> day) noexcept {
  if (!year || !month || !day) return std::nullopt;
  const CivilDate date{static_cast<std::int32_t>(*year), *month, static_cast<std::uint8_t>(*day)};
  if (strict_date_fault(date) != nullptr) return std::nullopt;
  return date;
}

/// The day of a "DDMonYY" token. The file writes two-digit years; they are
/// read as 20YY, the century of every forecast SWPC has published (in the
/// 2100s the check against the issue day then fails the file instead of
/// placing it a century early).
std::optional<CivilDate> token_day(std::string_view token) noexcept {
  const auto year = digits(token.substr(5, 2), 99);
  return calendar_day(year ? std::optional(*year + 2000) : std::nullopt,
                      text::month_from_abbreviation(token.substr(2, 3), text::MonthCase::title),
                      digits(token.substr(0, 2), 31));
}

/// Reads an ":Issued: YYYY Mon DD HHMM UTC" line into `issued_us` and
/// `day`, or returns what is wrong with it.
const char* read_issued(std::string_view line, std::int64_t& issued_us, CivilDate& day) noexcept {
  const bool spaced = line.size() == issued_length && line[issued_month - 1] == ' ' && line[issued_day - 1] == ' ' &&
                      line[issued_time - 1] == ' ';
  if (!spaced || !line.starts_with(issued_prefix) || !line.ends_with(issued_suffix)) {
    return "not an ':Issued: YYYY Mon DD HHMM UTC' line";
  }
  const auto date = calendar_day(digits(line.substr(issued_year, 4), 9999),
                                 text::month_from_abbreviation(line.substr(issued_month, 3), text::MonthCase::title),
                                 digits(line.substr(issued_day, 2), 31));
  if (!date) return "issue date not a calendar day in years 1-9999";
  const auto hours = digits(line.substr(issued_time, 2), 23), minutes = digits(line.substr(issued_time + 2, 2), 59);
  if (!hours || !minutes) return "issue time not HHMM from 0000 to 2359";
  day = *date;
  issued_us = day.utc_microseconds(*hours, *minutes, 0);
  return nullptr;
}

/// The days of the forecast, as the Ap block names them.
using Days = std::array<CivilDate, SwpcForecast::days>;

/// Reads the line's five pairs as days `first` to `first + 4` of `block`
/// into `values`: the Ap block sets `days`, each the day after the one
/// before and the first near the issue day; the F10.7 block must name the
/// same days. Returns the error at `row`, or nothing.
std::optional<DataError> read_block_line(const fixed_columns::DataLine& line, std::uint64_t row, const Block& block,
                                         std::size_t first, CivilDate issue_day, Days& days,
                                         std::array<double, SwpcForecast::days>& values) {
  if (line.text.size() != block_line_length) {
    return DataError::parse(row, "line length " + std::to_string(line.text.size()) + ", expected " +
                                     std::to_string(block_line_length));
  }
  for (std::size_t pair = 0; pair < pairs_per_line; ++pair) {
    const std::size_t at = pair * pair_stride, i = first + pair;
    const auto fault = [&](std::string_view what) {
      return DataError::parse(row, "pair " + std::to_string(pair + 1) + ": " + std::string(what));
    };
    const bool last = pair + 1 == pairs_per_line;
    if (line.text[at + date_width] != ' ' || (!last && line.text[at + pair_stride - 1] != ' ')) {
      return fault("not 'DDMonYY NNN' and a space");
    }
    const auto day = token_day(line.text.substr(at, date_width));
    if (!day) return fault("date not a DDMonYY calendar day");
    if (block.names_days) {
      if (i > 0 && day->to_days() != days[i - 1].to_days() + 1) return fault("not the day after the one before");
      // A 45-day forecast whose first day lies farther than that from its
      // issue cannot be that issue's. A closer bound is not SWPC's promise:
      // the first day is the day after the issue in every file seen, but a
      // late issue may well start on the issue day itself.
      constexpr auto span = static_cast<std::int64_t>(SwpcForecast::days);
      const std::int64_t from_issue = day->to_days() - issue_day.to_days();
      if (i == 0 && (from_issue < -span || from_issue > span)) return fault("first day more than 45 days from the issue day");
      days[i] = *day;
    } else if (*day != days[i]) {
      return fault("not the same day as in the Ap block");
    }
    std::int32_t value = 0;
    if (!fixed_columns::int_column(line, at + value_first, value_width, value) || value < 0 || value > block.largest) {
      return fault(block.range_fault);
    }
    values[i] = value;
  }
  return std::nullopt;
}

/// Reads the lines of `block` from `lines`, after its heading.
std::optional<DataError> read_block(ForecastLines& lines, const char* buffer_end, const Block& block,
                                    CivilDate issue_day, Days& days, std::array<double, SwpcForecast::days>& values) {
  std::string_view line;
  for (std::size_t k = 0; k < lines_per_block; ++k) {
    if (auto error = lines.next(line, block.end)) return error;
    if (auto error = read_block_line({line, buffer_end}, lines.row(), block, k * pairs_per_line, issue_day, days, values)) {
      return error;
    }
  }
  return std::nullopt;
}

}  // namespace

Result<SwpcForecast> parse_swpc_forecast(std::string_view content) {
  SwpcForecast forecast{};
  ForecastLines lines(content);
  if (auto error = expect_line(lines, product_line)) return std::move(*error);
  std::string_view line;
  if (auto error = lines.next(line, "the :Issued: line")) return std::move(*error);
  CivilDate issue_day;
  if (const char* fault = read_issued(line, forecast.issued_us, issue_day)) return DataError::parse(lines.row(), fault);

  // Comment lines, as many as there are, then the Ap block's heading.
  do {
    if (auto error = lines.next(line, ap_block.heading)) return std::move(*error);
  } while (line.starts_with('#'));
  if (line != ap_block.heading) return DataError::parse(lines.row(), "expected '" + std::string(ap_block.heading) + "'");
  const char* const buffer_end = content.data() + content.size();
  Days days;
  if (auto error = read_block(lines, buffer_end, ap_block, issue_day, days, forecast.ap)) return std::move(*error);
  forecast.first_row = lines.row() - lines_per_block + 1;
  if (auto error = expect_line(lines, f107_block.heading)) return std::move(*error);
  if (auto error = read_block(lines, buffer_end, f107_block, issue_day, days, forecast.f107)) return std::move(*error);

  if (auto error = lines.next(line, forecaster_prefix)) return std::move(*error);
  if (!line.starts_with(forecaster_prefix)) return DataError::parse(lines.row(), "expected 'FORECASTER:'");
  for (const std::string_view closing : closing_lines) {
    if (auto error = expect_line(lines, closing)) return std::move(*error);
  }
  if (lines.more()) return DataError::parse(lines.row() + 1, "text after NNNN, the forecast's last line");
  forecast.first_day = days[0];
  return forecast;
}

}  // namespace sunindex
