#pragma once

// What GFZ's Kp and Hpo files share: the date in the first columns, day
// counts from 1932-01-01, -1 for a missing value, and the indices written in
// thirds to three decimals. The fields' readers turn the marker into a quiet
// NaN and say what is wrong with any other value outside its column's range.

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "readers/fixed_columns.hpp"
#include "readers/text.hpp"
#include "store/civil_date.hpp"

namespace sunindex::gfz {

/// YYYY MM DD, columns 1-4, 5-7 and 8-10 of both formats.
inline constexpr fixed_columns::CalendarColumns date_columns{0, 4, 4, 3, 7, 3};

/// Days from 1932-01-01 to `date`, which the files write beside each date.
constexpr std::int64_t days_since_1932(const CivilDate& date) noexcept {
  return date.to_days() - CivilDate{1932, 1, 1}.to_days();
}

/// Why a field is refused.
enum class FieldFault : std::uint8_t {
  none,           // read
  unparsable,     // not a number of the field's kind
  out_of_range,   // a number, but neither the marker nor a value of the column
  not_in_thirds,  // an index that is not a whole number of thirds to three decimals
};

/// The message for a fault of the column called `label`: the label alone
/// when the field does not parse.
inline std::string fault_message(const char* label, FieldFault fault) {
  std::string message = label;
  if (fault == FieldFault::out_of_range) message += " out of range";
  if (fault == FieldFault::not_in_thirds) message += " not in thirds";
  return message;
}

/// The value of the missing marker, -1 however it is written (-1.000, -1, -1.0).
inline constexpr double missing_marker = -1.0;

/// The largest index in thirds the readers accept: Hp's column writes
/// "ff.fff".
inline constexpr double largest_thirds = 99.999;

/// n/3 rounded to three decimals (2.667 is 2+, 3.000 is 3o), as the number
/// parser reads that decimal, for each n up to largest_thirds: a table, so
/// that the check costs no division.
inline constexpr auto thirds_as_written = [] {
  std::array<double, 301> values{};  // 300 thirds lie past largest_thirds: its nearest
  // 1000 ≡ 1 (mod 3), so adding 1 before dividing rounds 1000n/3 to nearest.
  for (std::uint64_t n = 0; n < values.size(); ++n) values[n] = text::short_decimal_value((1000 * n + 1) / 3, 3, false);
  return values;
}();

/// Whether `value`, from 0 to largest_thirds, is a whole number of thirds
/// written to three decimals: what else an index column holds was not
/// written by GFZ, or is read from the wrong bytes.
inline bool in_thirds(double value) noexcept {
  const auto n = static_cast<std::size_t>(value * 3 + 0.5);
  return value == thirds_as_written[n];
}

/// A decimal amount from 0 to `max` (below 10^6), or the marker.
inline FieldFault read_amount(const fixed_columns::DataLine& line, std::size_t first, std::size_t width, double max,
                              double& value) noexcept {
  if (!fixed_columns::float_column(line, first, width, value)) return FieldFault::unparsable;
  if (value == missing_marker) {
    value = std::numeric_limits<double>::quiet_NaN();
    return FieldFault::none;
  }
  // No "-0.0" either: the sign is the marker's alone.
  if (!(value >= 0.0 && value <= max) || std::signbit(value)) return FieldFault::out_of_range;
  return FieldFault::none;
}

/// An index in thirds (Kp, Hp) from 0 to `max` (at most largest_thirds), or the marker.
inline FieldFault read_thirds(const fixed_columns::DataLine& line, std::size_t first, std::size_t width, double max,
                              double& value) noexcept {
  const FieldFault fault = read_amount(line, first, width, max, value);
  if (fault != FieldFault::none || std::isnan(value)) return fault;
  return in_thirds(value) ? FieldFault::none : FieldFault::not_in_thirds;
}

/// An integer from 0 to `max` (ap, Ap, SN), or the marker.
inline FieldFault read_count(const fixed_columns::DataLine& line, std::size_t first, std::size_t width,
                             std::int32_t max, double& value) noexcept {
  std::int32_t count = 0;
  if (!fixed_columns::int_column(line, first, width, count)) return FieldFault::unparsable;
  if (count == missing_marker) {
    value = std::numeric_limits<double>::quiet_NaN();
    return FieldFault::none;
  }
  if (count < 0 || count > max) return FieldFault::out_of_range;
  value = count;
  return FieldFault::none;
}

}  // namespace sunindex::gfz
