#include "readers/dtcfile.hpp"

#include <optional>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are exactly 109 bytes: a tag, the date, 24 hourly values.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 109, .year_first = 4, .year_width = 4, .doy_first = 8, .doy_width = 5,
    .typical_line_bytes = 110};
constexpr std::size_t first_hour = 13;
constexpr std::size_t hour_width = 4;

/// Reads the line's 24 hourly values into `hours`, or returns its error.
std::optional<DataError> read_hours(std::string_view line, std::uint64_t row, HourlyDtc& hours) {
  for (std::size_t hour = 0; hour < hours.size(); ++hour) {
    auto value = fixed_columns::parse_int_column(line, first_hour + hour_width * hour, hour_width, row, "Dtc");
    if (!value.ok()) return std::move(value.error());
    hours[hour] = value.value();
  }
  return std::nullopt;
}

/// The mean of 24 hourly values. Four-character integers sum exactly, so the
/// mean is the double nearest to the true mean.
double daily_mean(const HourlyDtc& hours) noexcept {
  double sum = 0.0;
  for (const double value : hours) sum += value;
  return sum / double(hours.size());
}

Result<std::vector<DailyIndices>> read(std::string_view content, std::vector<HourlyDtc>* hourly) {
  if (hourly) hourly->reserve(content.size() / layout.typical_line_bytes);
  return fixed_columns::read_dated_lines(
      content, layout, [hourly](std::string_view line, std::uint64_t row, DailyIndices& record) {
        HourlyDtc hours;
        if (auto error = read_hours(line, row, hours)) return error;
        record.dtc = daily_mean(hours);
        if (hourly) hourly->push_back(hours);
        return std::optional<DataError>{};
      });
}

}  // namespace

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content) { return read(content, nullptr); }

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, std::vector<HourlyDtc>& hourly) {
  return read(content, &hourly);
}

}  // namespace sunindex
