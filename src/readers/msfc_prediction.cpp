#include "readers/msfc_prediction.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "readers/month_names.hpp"
#include "readers/text.hpp"

namespace sunindex {
namespace {

constexpr std::array<std::string_view, 6> value_labels{"F10.7 95%", "F10.7 50%", "F10.7 5%",
                                                       "Ap 95%",    "Ap 50%",    "Ap 5%"};
constexpr std::size_t field_count = 2 + value_labels.size();
/// Above any value F10.7 or Ap has reached: a larger one is a fault of the
/// file, and near the largest double its interpolation overflows.
constexpr double largest_value = 1e4;

/// Whether a trimmed, non-empty line is a data line: headers begin with a
/// word or a percentage ("95.0%"), data lines with the decimal year.
bool is_data_line(std::string_view line) noexcept {
  const unsigned digit = static_cast<unsigned char>(line.front()) - unsigned{'0'};
  const std::size_t token_end = line.find_first_of(" \t");
  const std::string_view first = line.substr(0, token_end);
  return digit < 10 && first.back() != '%';
}

/// Splits a trimmed line at runs of spaces and tabs into at most `fields.size()`
/// fields; returns how many there are (one more than fits means too many).
std::size_t split_fields(std::string_view line, std::array<std::string_view, field_count + 1>& fields) noexcept {
  std::size_t count = 0;
  while (!line.empty() && count < fields.size()) {
    const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
    fields[count++] = line.substr(0, end);
    line.remove_prefix(end);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  }
  return count;
}

/// What is wrong when a month's columns do not fall from 95 % to 5 %: in
/// another order, a higher percentile would give less than a lower one.
std::optional<std::string> percentile_order_fault(const PredictionMonth& month) {
  const auto ordered = [](const std::array<double, 3>& columns) { return columns[0] >= columns[1] && columns[1] >= columns[2]; };
  if (!ordered(month.f107)) return "F10.7 at 95, 50 and 5 % is not in decreasing order";
  if (!ordered(month.ap)) return "Ap at 95, 50 and 5 % is not in decreasing order";
  return std::nullopt;
}

/// Reads one data line into `month`, or returns what is wrong with it.
std::optional<std::string> read_month(std::string_view line, PredictionMonth& month) {
  std::array<std::string_view, field_count + 1> fields;
  const std::size_t count = split_fields(line, fields);
  if (count != field_count) {
    return "expected " + std::to_string(field_count) + " fields (decimal year, month, F10.7 and Ap at 95, 50 and 5 %)";
  }
  const auto decimal_year = text::parse_number(fields[0]);
  // The year's bound keeps the integer conversion defined.
  if (!decimal_year || !(std::abs(*decimal_year) < 1e6)) return "bad decimal year";
  const auto number = text::month_from_abbreviation(fields[1], text::MonthCase::upper);
  if (!number) return "bad month name";
  month.year = static_cast<std::int32_t>(std::floor(*decimal_year));
  month.month = *number;
  // The dates of epochs stop there; a month outside could not be named.
  if (month.year < 1 || month.year > 9999) return "year outside 1-9999";
  // The decimal year marks an instant inside the month it names (2026.2503 is in April).
  const double months_into_year = (*decimal_year - month.year) * 12.0;
  if (!(months_into_year >= month.month - 1 && months_into_year < month.month)) {
    return "decimal year " + std::string(fields[0]) + " is not in " + std::string(fields[1]);
  }
  for (std::size_t v = 0; v < value_labels.size(); ++v) {
    const auto value = text::parse_number(fields[2 + v]);
    if (!value || !std::isfinite(*value) || *value < 0.0) return "bad number in " + std::string(value_labels[v]);
    if (*value > largest_value) {
      return std::string(value_labels[v]) + " is " + std::string(fields[2 + v]) + ", above any solar index (10000)";
    }
    (v < 3 ? month.f107[v] : month.ap[v - 3]) = *value;
  }
  return percentile_order_fault(month);
}

/// Months since the start of year 0, so that consecutive months differ by one.
std::int64_t month_index(const PredictionMonth& month) noexcept {
  return std::int64_t{month.year} * 12 + month.month - 1;
}

std::string month_text(const PredictionMonth& month) {
  return std::to_string(month.year) + " " + std::string(text::upper_month_abbreviations[month.month - 1]);
}

}  // namespace

Result<std::vector<PredictionMonth>> parse_msfc_prediction(std::string_view content) {
  std::vector<PredictionMonth> months;
  text::LineCursor lines(content);
  std::string_view raw;
  while (lines.next(raw)) {
    if (!text::is_valid_utf8(raw)) return DataError::parse(lines.line_number(), "invalid utf-8");
    const std::string_view line = text::trim(raw);
    if (line.empty()) continue;
    const std::uint64_t row = lines.line_number();
    if (!is_data_line(line)) {
      if (months.empty()) continue;  // still the header
      return DataError::parse(row, "not a data line after the data began");
    }
    PredictionMonth month{};
    month.row = row;
    if (auto problem = read_month(line, month)) return DataError::parse(row, std::move(*problem));
    if (!months.empty() && month_index(month) != month_index(months.back()) + 1) {
      return DataError::parse(row, month_text(month) + " does not follow " + month_text(months.back()));
    }
    months.push_back(month);
  }
  if (months.empty()) return DataError::parse(lines.line_number(), "no data line");
  return months;
}

}  // namespace sunindex
