#include "readers/solfsmy.hpp"

#include <algorithm>
#include <array>
#include <limits>
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
  Field field;
};
constexpr std::array<ValueColumn, 5> value_columns{{
    {22, "F10.7", Field::f10_7_jb},
    {28, "F81c", Field::f10_7_jb_81c},
    {34, "S10.7", Field::s10_7},
    {46, "M10.7", Field::m10_7},
    {58, "Y10.7", Field::y10_7},
}};

/// The five values of a line; the format has no marker for a missing one.
std::optional<DataError> read_values(std::string_view line, std::uint64_t row, DailyIndices& record) {
  for (const auto& column : value_columns) {
    auto value = fixed_columns::parse_float_column(line, column.first, value_width, row, column.label);
    if (!value.ok()) return std::move(value.error());
    record.set(column.field, value.value());
  }
  return std::nullopt;
}

// Published lines go on past the bytes the daily record needs: S81c and M81c
// lie between its columns, Y81c and the flags after them.
constexpr std::size_t y81c_first = 64, source_first = 70, source_width = 6;

/// The columns of a line that only `extras` keeps, or the line's error.
std::optional<DataError> read_extras(std::string_view line, std::uint64_t row, SolfsmyRowExtras& extras) {
  const auto centred = [&](std::size_t first, const char* label, double& out) -> std::optional<DataError> {
    auto value = fixed_columns::parse_float_column(line, first, value_width, row, label);
    if (!value.ok()) return std::move(value.error());
    out = value.value();
    return std::nullopt;
  };
  if (auto error = centred(40, "S81c", extras.s81c)) return error;
  if (auto error = centred(52, "M81c", extras.m81c)) return error;
  extras.y81c = std::numeric_limits<double>::quiet_NaN();
  if (line.size() >= y81c_first + value_width) {
    if (auto error = centred(y81c_first, "Y81c", extras.y81c)) return error;
  }
  extras.source = {' ', ' ', ' ', ' '};
  if (line.size() <= source_first) return std::nullopt;
  const std::string_view flags =
      fixed_columns::column_text(line, source_first, std::min(source_width, line.size() - source_first));
  // One printable ASCII flag per index: anything else is not this column.
  const auto printable = [](char c) { return c > ' ' && c < 127; };
  if (flags.size() > extras.source.size() || !std::all_of(flags.begin(), flags.end(), printable)) {
    return fixed_columns::column_error(row, "Ssrc");
  }
  std::copy(flags.begin(), flags.end(), extras.source.begin());
  return std::nullopt;
}

Result<std::vector<DailyIndices>> read(std::string_view content, std::vector<SolfsmyRowExtras>* extras) {
  if (!extras) return fixed_columns::read_dated_lines(content, layout, read_values);
  extras->reserve(content.size() / layout.typical_line_bytes);
  return fixed_columns::read_dated_lines(
      content, layout, [extras](std::string_view line, std::uint64_t row, DailyIndices& record) {
        if (auto error = read_values(line, row, record)) return error;
        return read_extras(line, row, extras->emplace_back());
      });
}

}  // namespace

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, const ReadOptions&) {
  return read(content, nullptr);
}

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, std::vector<SolfsmyRowExtras>& extras,
                                                 const ReadOptions&) {
  return read(content, &extras);
}

}  // namespace sunindex
