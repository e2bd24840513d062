#include "readers/celestrak_csv.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "readers/text.hpp"

namespace sunindex {
namespace {

using Fields = std::vector<std::string_view>;

/// Splits `line` at every comma into `fields` (cleared first). No quoting:
/// a double quote is an ordinary character.
void split_fields(std::string_view line, Fields& fields) {
  fields.clear();
  for (;;) {
    const void* comma = std::memchr(line.data(), ',', line.size());
    if (comma == nullptr) break;
    const auto length = static_cast<std::size_t>(static_cast<const char*>(comma) - line.data());
    fields.push_back(line.substr(0, length));
    line.remove_prefix(length + 1);
  }
  fields.push_back(line);
}

/// The field at `position`, or empty text for a row too short to have it.
std::string_view field_at(const Fields& fields, std::size_t position) noexcept {
  return position < fields.size() ? fields[position] : std::string_view{};
}

/// Column names of the header, trimmed, by position. A repeated name resolves
/// to its last occurrence.
class HeaderIndex {
 public:
  explicit HeaderIndex(std::string_view header_line) {
    split_fields(header_line, names_);
    for (auto& name : names_) name = text::trim(name);
  }

  std::optional<std::size_t> find(std::string_view name) const noexcept {
    for (std::size_t i = names_.size(); i-- > 0;) {
      if (names_[i] == name) return i;
    }
    return std::nullopt;
  }

  /// The first of `names` that the header has.
  std::optional<std::size_t> find_first_of(std::initializer_list<std::string_view> names) const noexcept {
    for (const auto name : names) {
      if (const auto position = find(name)) return position;
    }
    return std::nullopt;
  }

 private:
  Fields names_;
};

using EightPositions = std::array<std::size_t, 8>;

/// Positions of `prefix`1 to `prefix`8, or none if any is missing.
std::optional<EightPositions> find_numbered_columns(const HeaderIndex& header, std::string_view prefix) {
  EightPositions positions{};
  std::array<char, 3> name{prefix[0], prefix[1], '0'};
  for (std::size_t slot = 0; slot < positions.size(); ++slot) {
    name[2] = static_cast<char>('1' + slot);
    const auto position = header.find({name.data(), name.size()});
    if (!position) return std::nullopt;
    positions[slot] = *position;
  }
  return positions;
}

struct ColumnPositions {
  std::size_t date;
  std::size_t f10_7_obs;
  std::size_t f10_7_adj;
  std::size_t ap_daily;
  EightPositions ap_3hr;
  EightPositions kp_3hr;
};

std::optional<ColumnPositions> resolve_columns(const HeaderIndex& header) {
  const auto date = header.find("DATE");
  const auto obs = header.find_first_of({"F10.7_OBS", "F10.7"});
  const auto adj = header.find_first_of({"F10.7_ADJ", "F10.7A"});
  const auto ap = header.find_first_of({"AP_AVG", "AP"});
  const auto ap_3hr = find_numbered_columns(header, "AP");
  const auto kp_3hr = find_numbered_columns(header, "KP");
  if (!date || !obs || !adj || !ap || !ap_3hr || !kp_3hr) return std::nullopt;
  return ColumnPositions{*date, *obs, *adj, *ap, *ap_3hr, *kp_3hr};
}

/// "YYYY-MM-DD", each part an optional '+' and digits; month 1-12, day 1-31.
/// The length of the month is deliberately not checked.
std::optional<CivilDate> parse_csv_date(std::string_view field) noexcept {
  field = text::trim(field);
  std::array<std::string_view, 3> parts;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::size_t dash = field.find('-');
    const bool last = i + 1 == parts.size();
    if (last != (dash == std::string_view::npos)) return std::nullopt;  // not exactly three parts
    parts[i] = field.substr(0, dash);
    if (!last) field.remove_prefix(dash + 1);
  }
  const auto year = text::parse_unsigned(parts[0], std::numeric_limits<std::int32_t>::max());
  const auto month = text::parse_unsigned(parts[1], 255);
  const auto day = text::parse_unsigned(parts[2], 255);
  if (!year || !month || !day) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
  return CivilDate{static_cast<std::int32_t>(*year), static_cast<std::uint8_t>(*month),
                   static_cast<std::uint8_t>(*day)};
}

/// A value field: empty text, a missing-value marker or anything that is not
/// a number gives absent.
std::optional<double> parse_optional_value(std::string_view field) noexcept {
  field = text::trim(field);
  if (field.empty() || field == "9999.9" || field == "99999" || field == "999.9") return std::nullopt;
  return text::parse_number(field);
}

/// The eight values, present only when every one of them is.
std::optional<ThreeHourly> parse_eight_values(const Fields& fields, const EightPositions& positions) noexcept {
  ThreeHourly values;
  for (std::size_t slot = 0; slot < values.size(); ++slot) {
    const auto value = parse_optional_value(field_at(fields, positions[slot]));
    if (!value) return std::nullopt;
    values[slot] = *value;
  }
  return values;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content) {
  if (!text::is_valid_utf8(content)) return DataError::invalid_csv_header();
  text::LineCursor lines(content);
  std::string_view line;
  if (!lines.next(line)) return DataError::invalid_csv_header();
  const auto columns = resolve_columns(HeaderIndex(line));
  if (!columns) return DataError::invalid_csv_header();

  std::vector<DailyIndices> records;
  records.reserve(content.size() / 96);  // a CelesTrak row is 100-120 bytes
  Fields fields;  // reused by every row
  while (lines.next(line)) {
    line = text::trim(line);
    if (line.empty()) continue;
    split_fields(line, fields);
    const auto date = parse_csv_date(field_at(fields, columns->date));
    if (!date) return DataError::parse(lines.line_number(), "invalid date");
    DailyIndices& record = records.emplace_back();
    record.date = *date;
    record.f10_7_obs = parse_optional_value(field_at(fields, columns->f10_7_obs));
    record.f10_7_adj = parse_optional_value(field_at(fields, columns->f10_7_adj));
    record.ap_daily = parse_optional_value(field_at(fields, columns->ap_daily));
    record.ap_3hr = parse_eight_values(fields, columns->ap_3hr);
    record.kp_3hr = parse_eight_values(fields, columns->kp_3hr);
  }
  return records;
}

}  // namespace sunindex
