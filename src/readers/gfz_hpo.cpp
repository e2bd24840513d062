#include "readers/gfz_hpo.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "readers/fixed_columns.hpp"
#include "readers/gfz_fields.hpp"

namespace sunindex {
namespace {

using fixed_columns::DataLine;
using gfz::FieldFault;

// Published lines are 59 bytes and a LF. Fields from byte 0:
constexpr std::size_t line_length = 59;
constexpr std::size_t start_hour_first = 10, start_hour_width = 5;     // hh.h
constexpr std::size_t middle_hour_first = 15, middle_hour_width = 6;   // hh._m
constexpr std::size_t start_days_first = 21, middle_days_first = 33, days_width = 12;
constexpr std::size_t hp_first = 45, hp_width = 7;
constexpr std::size_t ap_first = 52, ap_width = 5;
constexpr std::size_t reserved_first = 57, reserved_width = 2;  // D, always 0 so far

// Hp is open-ended (storms reach 13.333) and ap grows with it past 400.
constexpr std::int32_t largest_ap = 9999;  // what the column writes
constexpr int days_decimals = 5;

/// How a cadence names its columns and its interval in messages.
struct CadenceWords {
  const char* hp;
  const char* ap;
  const char* grid_fault;
  const char* middle_fault;
};
constexpr CadenceWords words_of(HpoCadence cadence) noexcept {
  return cadence == HpoCadence::minutes30
             ? CadenceWords{"Hp30", "ap30", "hh.h not on the 30-minute grid", "hh._m not the middle of a 30-minute interval"}
             : CadenceWords{"Hp60", "ap60", "hh.h not on the hourly grid", "hh._m not the middle of a 60-minute interval"};
}

/// Days since 1932 to `halves` half-intervals into the day `days`, in units
/// of 10^-5 days rounded to nearest, as the days columns write it: the
/// fractions are k/96 of a day, never halfway between two such units.
constexpr std::int64_t hundred_thousandths(std::int64_t days, std::int64_t halves, std::size_t per_day) noexcept {
  const auto half_intervals = static_cast<std::int64_t>(2 * per_day);
  return days * 100000 + (halves * 100000 + half_intervals / 2) / half_intervals;
}

/// Reads the days column at `first` and compares it with `units` × 10^-5
/// days as the number parser reads that decimal: `label` when it does not
/// parse, `fault` when it differs, nullptr when it holds that count.
const char* days_column_fault(const DataLine& line, std::size_t first, std::int64_t units, const char* label,
                              const char* fault) noexcept {
  double written = 0.0;
  if (!fixed_columns::float_column(line, first, days_width, written)) return label;
  const auto magnitude = static_cast<std::uint64_t>(units < 0 ? -units : units);
  return written == text::short_decimal_value(magnitude, days_decimals, units < 0) ? nullptr : fault;
}

/// Reads the line's start hour into `interval.slot` and checks the middle
/// hour and both days columns against it; says what is wrong otherwise.
const char* read_time(const DataLine& line, HpoCadence cadence, HpoInterval& interval) noexcept {
  const std::size_t per_day = intervals_per_day(cadence);
  const double per_hour = static_cast<double>(per_day) / 24.0;  // 2 or 1, exact
  const CadenceWords words = words_of(cadence);
  double start = 0.0, middle = 0.0;
  if (!fixed_columns::float_column(line, start_hour_first, start_hour_width, start)) return "hh.h";
  const double slot = start * per_hour;
  if (!(slot >= 0.0 && slot < static_cast<double>(per_day)) || slot != std::floor(slot)) return words.grid_fault;
  interval.slot = static_cast<std::uint8_t>(slot);
  if (!fixed_columns::float_column(line, middle_hour_first, middle_hour_width, middle)) return "hh._m";
  // Hours on the grid and half an interval after them are exact in binary.
  if (middle != start + 0.5 / per_hour) return words.middle_fault;
  const std::int64_t days = gfz::days_since_1932(interval.date);
  if (const char* fault = days_column_fault(line, start_days_first, hundred_thousandths(days, 2 * interval.slot, per_day),
                                            "days", "days not the start's count since 1932")) {
    return fault;
  }
  return days_column_fault(line, middle_days_first, hundred_thousandths(days, 2 * interval.slot + 1, per_day),
                           "days_m", "days_m not the middle's count since 1932");
}

/// Reads the values of a line into `interval`, or says what is wrong with
/// the first that fails.
std::optional<std::string> read_values(const DataLine& line, const CadenceWords& words, HpoInterval& interval) {
  FieldFault fault = gfz::read_thirds(line, hp_first, hp_width, gfz::largest_thirds, interval.hp);
  if (fault != FieldFault::none) return gfz::fault_message(words.hp, fault);
  fault = gfz::read_count(line, ap_first, ap_width, largest_ap, interval.ap);
  if (fault != FieldFault::none) return gfz::fault_message(words.ap, fault);
  std::int32_t reserved = 0;
  if (!fixed_columns::int_column(line, reserved_first, reserved_width, reserved)) return "D";
  if (reserved != 0) return "D not 0";
  return std::nullopt;
}

}  // namespace

Result<std::vector<HpoInterval>> parse_gfz_hpo(std::string_view content, HpoCadence cadence, const ReadOptions& options) {
  const CadenceWords words = words_of(cadence);
  const fixed_columns::HeadedLayout layout{
      line_length, "interval not after the line before",
      [cadence](const DataLine& line, HpoInterval& interval) -> const char* {
        if (const char* label = fixed_columns::read_calendar_date(line, gfz::date_columns, interval.date)) return label;
        return read_time(line, cadence, interval);
      },
      [](const HpoInterval& before, const HpoInterval& after) {
        return before.date < after.date || (before.date == after.date && before.slot < after.slot);
      },
      [&words](const DataLine& line, HpoInterval& interval) { return read_values(line, words, interval); }};
  return fixed_columns::read_headed_records<HpoInterval>(content, options, layout);
}

}  // namespace sunindex
