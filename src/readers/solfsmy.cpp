#include "readers/solfsmy.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "readers/fixed_columns.hpp"

namespace sunindex {
namespace {

// Published lines are 76 bytes and a LF; the record needs the first 64, the
// extras the rest.
constexpr fixed_columns::DateLayout layout{
    .min_line_length = 64, .max_line_length = 76, .too_long = "text after the last column",
    .year_first = 0, .year_width = 6, .doy_first = 6, .doy_width = 4, .typical_line_bytes = 77};
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

/// The five values of a line, or the label of the first that fails; the
/// format has no marker for a missing one.
const char* read_values(const fixed_columns::DataLine& line, DailyIndices& record) noexcept {
  for (const auto& column : value_columns) {
    double value = 0.0;
    if (!fixed_columns::float_column(line, column.first, value_width, value)) return column.label;
    record.set(column.field, value);
  }
  return nullptr;
}

// Published lines go on past the bytes the daily record needs: S81c and M81c
// lie between its columns, Y81c and the flags after them.
constexpr std::size_t y81c_first = 64, source_first = 70, source_width = 6;

/// The columns of a line that only `extras` keeps, or the label of the first
/// that fails.
const char* read_extras(const fixed_columns::DataLine& line, SolfsmyRowExtras& extras) noexcept {
  const auto centred = [&](std::size_t first, double& out) {
    return fixed_columns::float_column(line, first, value_width, out);
  };
  extras.present = 0;
  if (!centred(40, extras.s81c)) return "S81c";
  if (!centred(52, extras.m81c)) return "M81c";
  extras.present |= SolfsmyRowExtras::bit(SolfsmyExtra::s81c) | SolfsmyRowExtras::bit(SolfsmyExtra::m81c);
  extras.y81c = std::numeric_limits<double>::quiet_NaN();
  if (line.text.size() >= y81c_first + value_width) {
    if (!centred(y81c_first, extras.y81c)) return "Y81c";
    extras.present |= SolfsmyRowExtras::bit(SolfsmyExtra::y81c);
  }
  extras.source = {' ', ' ', ' ', ' '};
  if (line.text.size() <= source_first) return nullptr;
  const std::string_view flags =
      fixed_columns::column_text(line.text, source_first, std::min(source_width, line.text.size() - source_first));
  // One printable ASCII flag per index: anything else is not this column.
  const auto printable = [](char c) { return c > ' ' && c < 127; };
  if (flags.size() > extras.source.size() || !std::all_of(flags.begin(), flags.end(), printable)) return "Ssrc";
  std::copy(flags.begin(), flags.end(), extras.source.begin());
  if (!flags.empty()) extras.present |= SolfsmyRowExtras::bit(SolfsmyExtra::source);
  return nullptr;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, const ReadOptions& options) {
  return fixed_columns::read_dated_lines<fixed_columns::NoExtras>(
      content, layout, options, nullptr,
      [](const fixed_columns::DataLine& line, DailyIndices& record, fixed_columns::NoExtras&) {
        return read_values(line, record);
      });
}

Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, std::vector<SolfsmyRowExtras>& extras,
                                                 const ReadOptions& options) {
  return fixed_columns::read_dated_lines(
      content, layout, options, &extras,
      [](const fixed_columns::DataLine& line, DailyIndices& record, SolfsmyRowExtras& extra) {
        if (const char* label = read_values(line, record)) return label;
        return read_extras(line, extra);
      });
}

}  // namespace sunindex
