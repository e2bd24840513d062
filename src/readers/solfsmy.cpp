#include "readers/solfsmy.hpp"

#include <array>
#include <optional>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are 76 bytes and a LF; only the first 64 are read.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 64, .year_first = 0, .year_width = 6, .doy_first = 6, .doy_width = 4,
    .typical_line_bytes = 77};
constexpr std::size_t value_width = 6;

/// The value columns read, in the order they are checked.
struct ValueColumn {
  std::size_t first;
  const char* label;
  std::optional<double> DailyIndices::*field;
};
constexpr std::array<ValueColumn, 5> value_columns{{
    {22, "F10.7", &DailyIndices::f10_7_jb},
    {28, "F81c", &DailyIndices::f10_7_jb_81c},
    {34, "S10.7", &DailyIndices::s10_7},
    {46, "M10.7", &DailyIndices::m10_7},
    {58, "Y10.7", &DailyIndices::y10_7},
}};

/// The five values of a line; the format has no marker for a missing one.
std::optional<DataError> read_values(std::string_view line, std::uint64_t row, DailyIndices& record) {
  for (const auto& column : value_columns) {
    auto value = fixed_columns::parse_float_column(line, column.first, value_width, row, column.label);
    if (!value.ok()) return std::move(value.error());
    record.*column.field = value.value();
  }
  return std::nullopt;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content) {
  return fixed_columns::read_dated_lines(content, layout, read_values);
}

}  // namespace sunindex
