#pragma once

// English three-letter month abbreviations, as the prediction, the legacy
// text file's stamp and SWPC's dates write them; one table for all.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sunindex::text {

/// The abbreviation of each month in capitals, January first.
inline constexpr std::array<std::string_view, 12> upper_month_abbreviations{
    "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

/// How a file writes a month's abbreviation.
enum class MonthCase : std::uint8_t {
  upper,  // "JAN"
  title,  // "Jan"
};

/// 1 to 12 for a month's abbreviation written exactly in `letter_case`, or none.
inline std::optional<std::uint8_t> month_from_abbreviation(std::string_view name, MonthCase letter_case) noexcept {
  if (name.size() != 3) return std::nullopt;
  // The table's letters, or their lower case after the first in title case.
  const auto as_written = [letter_case](char upper, std::size_t position) {
    return letter_case == MonthCase::title && position > 0 ? static_cast<char>(upper - 'A' + 'a') : upper;
  };
  for (std::size_t m = 0; m < upper_month_abbreviations.size(); ++m) {
    const std::string_view upper = upper_month_abbreviations[m];
    if (name[0] == as_written(upper[0], 0) && name[1] == as_written(upper[1], 1) && name[2] == as_written(upper[2], 2)) {
      return static_cast<std::uint8_t>(m + 1);
    }
  }
  return std::nullopt;
}

}  // namespace sunindex::text
