#include "readers/dtcfile.hpp"

#include <optional>
#include <tuple>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are exactly 109 bytes: a tag, the date, 24 hourly values.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 109, .year_first = 4, .year_width = 4, .doy_first = 8, .doy_width = 5,
    .typical_line_bytes = 110};
constexpr std::size_t first_hour = 13;
constexpr std::size_t hour_width = 4;

/// Reads the line's 24 hourly values, into `hours` when asked, and sets the
/// record's mean; or returns the line's error. Four-character integers sum
/// exactly, so the mean is the double nearest to the true mean. A template,
/// so that a read that keeps no hours runs no code for them.
template <bool keep_hours>
std::optional<DataError> read_values(std::string_view line, std::uint64_t row, DailyIndices& record,
                                     HourlyDtc* hours) {
  double sum = 0.0;
  for (std::size_t hour = 0; hour < std::tuple_size_v<HourlyDtc>; ++hour) {
    auto value = fixed_columns::parse_int_column(line, first_hour + hour_width * hour, hour_width, row, "Dtc");
    if (!value.ok()) return std::move(value.error());
    sum += value.value();
    if constexpr (keep_hours) (*hours)[hour] = value.value();
  }
  record.set(Field::dtc, sum / double(std::tuple_size_v<HourlyDtc>));
  return std::nullopt;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, const ReadOptions&) {
  return fixed_columns::read_dated_lines(
      content, layout,
      [](std::string_view line, std::uint64_t row, DailyIndices& record) {
        return read_values<false>(line, row, record, nullptr);
      });
}

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, std::vector<HourlyDtc>& hourly,
                                                 const ReadOptions&) {
  hourly.reserve(content.size() / layout.typical_line_bytes);
  return fixed_columns::read_dated_lines(
      content, layout, [&hourly](std::string_view line, std::uint64_t row, DailyIndices& record) {
        return read_values<true>(line, row, record, &hourly.emplace_back());
      });
}

}  // namespace sunindex
