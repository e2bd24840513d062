#include "readers/dtcfile.hpp"

#include <array>
#include <cstdint>
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

/// Two adjacent hours: both values, or nothing when either fails.
std::optional<std::array<std::int32_t, 2>> read_hour_pair(const fixed_columns::DataLine& line,
                                                          std::size_t first) noexcept {
  // The pair lies inside the line, so its 8 bytes are always readable.
  if (const auto pair = text::parse_right_aligned_int32_pair(line.text.data() + first)) return pair;
  const auto early = fixed_columns::int_column(line, first, hour_width);
  const auto late = fixed_columns::int_column(line, first + hour_width, hour_width);
  if (!early || !late) return std::nullopt;
  return std::array<std::int32_t, 2>{*early, *late};
}

/// Reads the line's 24 hourly values, into `hours` when asked, and sets the
/// record's mean; or returns the column's label. Four-character integers sum
/// exactly, so the mean is the double nearest to the true mean. A template,
/// so that a read that keeps no hours runs no code for them.
template <bool keep_hours>
const char* read_values(const fixed_columns::DataLine& line, DailyIndices& record, HourlyDtc* hours) noexcept {
  std::int64_t sum = 0;
  for (std::size_t hour = 0; hour < std::tuple_size_v<HourlyDtc>; hour += 2) {
    const auto pair = read_hour_pair(line, first_hour + hour_width * hour);
    if (!pair) return "Dtc";
    sum += (*pair)[0] + (*pair)[1];
    if constexpr (keep_hours) (*hours)[hour] = (*pair)[0], (*hours)[hour + 1] = (*pair)[1];
  }
  record.set(Field::dtc, static_cast<double>(sum) / double(std::tuple_size_v<HourlyDtc>));
  return nullptr;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, const ReadOptions& options) {
  return fixed_columns::read_dated_lines<fixed_columns::NoExtras>(
      content, layout, options, nullptr,
      [](const fixed_columns::DataLine& line, DailyIndices& record, fixed_columns::NoExtras&) {
        return read_values<false>(line, record, nullptr);
      });
}

Result<std::vector<DailyIndices>> parse_dtcfile(std::string_view content, std::vector<HourlyDtc>& hourly,
                                                 const ReadOptions& options) {
  return fixed_columns::read_dated_lines(
      content, layout, options, &hourly,
      [](const fixed_columns::DataLine& line, DailyIndices& record, HourlyDtc& hours) {
        return read_values<true>(line, record, &hours);
      });
}

}  // namespace sunindex
