#include "readers/solfsmy.hpp"

#include <array>
#include <optional>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

constexpr std::size_t min_line_length = 64;
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

}  // namespace

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content) {
  auto walk = fixed_columns::DataLines::of(content);
  if (!walk.ok()) return std::move(walk.error());
  auto& lines = walk.value();

  std::vector<DailyIndices> records;
  records.reserve(content.size() / 77);  // published lines are 76 bytes and a LF
  std::uint64_t row = 0;
  std::string_view line;
  while (lines.next(row, line)) {
    if (auto error = fixed_columns::check_line_length(line, min_line_length, row)) return std::move(*error);
    auto date = fixed_columns::parse_year_doy_columns(line, 0, 6, 6, 4, row);
    if (!date.ok()) return std::move(date.error());
    DailyIndices& record = records.emplace_back();  // filled in place: no copy per row
    record.date = date.value();
    for (const auto& column : value_columns) {
      auto value = fixed_columns::parse_float_column(line, column.first, value_width, row, column.label);
      if (!value.ok()) return std::move(value.error());
      record.*column.field = value.value();
    }
  }
  return records;
}

}  // namespace sunindex
