#include "readers/dtcfile.hpp"

#include <cstdint>
#include <optional>
#include <tuple>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are exactly 109 bytes: a tag, the date, 24 hourly values.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 109, .max_line_length = 109, .too_long = "more than 24 hourly values",
    .year_first = 4, .year_width = 4, .doy_first = 8, .doy_width = 5, .typical_line_bytes = 110};
constexpr std::size_t first_hour = 13;
constexpr std::size_t hour_width = 4;

/// Reads two adjacent hours into `first` and `second`; false when either fails.
bool read_hour_pair(const fixed_columns::DataLine& line, std::size_t at, std::int32_t& first,
                    std::int32_t& second) noexcept {
  // The pair lies inside the line, so its 8 bytes are always readable.
  if (text::parse_right_aligned_int32_pair(line.text.data() + at, first, second)) return true;
  return fixed_columns::int_column(line, at, hour_width, first) &&
         fixed_columns::int_column(line, at + hour_width, hour_width, second);
}

/// Reads the line's 24 hourly values, into `hours` when asked, and sets the
/// record's mean; or returns the column's label. Four-character integers sum
/// exactly, so the mean is the double nearest to the true mean. A template,
/// so that a read that keeps no hours runs no code for them.
template <bool keep_hours>
const char* read_values(const fixed_columns::DataLine& line, DailyIndices& record, HourlyDtc* hours) noexcept {
  std::int64_t sum = 0;
  for (std::size_t hour = 0; hour < std::tuple_size_v<HourlyDtc>; hour += 2) {
    std::int32_t first = 0, second = 0;
    if (!read_hour_pair(line, first_hour + hour_width * hour, first, second)) return "Dtc";
    sum += first + second;
    if constexpr (keep_hours) (*hours)[hour] = first, (*hours)[hour + 1] = second;
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
