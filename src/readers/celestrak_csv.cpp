#include "readers/celestrak_csv.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <limits>
#include <optional>

#include "readers/text.hpp"

namespace sunindex {
namespace {

/// The position of the first comma in [p, end), or end. Eight bytes at a
/// time: the lowest flagged byte of the zero-byte test is always exact.
const char* find_comma(const char* p, const char* const end) noexcept {
  constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
  constexpr std::uint64_t commas = ones * static_cast<unsigned char>(',');
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t x = word ^ commas;
    if (const std::uint64_t found = (x - ones) & ~x & highs) return p + std::countr_zero(found) / 8;
  }
  while (p != end && *p != ',') ++p;
  return p;
}

/// Column names of the header, trimmed, by position. A repeated name resolves
/// to its last occurrence.
class HeaderIndex {
 public:
  explicit HeaderIndex(std::string_view header_line) {
    // Every comma separates two names: there is no quoting.
    const char* p = header_line.data();
    const char* const end = p + header_line.size();
    for (;;) {
      const char* const comma = find_comma(p, end);
      names_.push_back(text::trim({p, static_cast<std::size_t>(comma - p)}));
      if (comma == end) break;
      p = comma + 1;
    }
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
  std::vector<std::string_view> names_;
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

/// What a column of the file is read into.
struct ColumnRole {
  enum class Kind : std::uint8_t {
    ignored,    // a column nothing is read from
    date,       // the record's date
    f10_7_obs,  // observed F10.7
    f10_7_adj,  // adjusted F10.7
    ap_daily,   // daily Ap
    ap_3hr,     // one of the eight ap slots
    kp_3hr,     // one of the eight Kp slots
    extra,      // a CelestrakExtra, numbered by slot
    data_type,  // the F10.7 data type
  };
  Kind kind = Kind::ignored;
  std::uint8_t slot = 0;  // 0-7 for the 3-hourly kinds, the CelestrakExtra of an extra
};

/// The role of each column position up to the last one read, resolved from
/// the header once per file so that a row is read in one walk along it.
using ColumnRoles = std::vector<ColumnRole>;

/// The header names of the optional columns, by CelestrakExtra.
constexpr std::array<std::string_view, static_cast<std::size_t>(CelestrakExtra::count)> extra_names{
    "BSRN", "ND", "KP_SUM", "CP", "C9", "ISN",
    "F10.7_OBS_CENTER81", "F10.7_OBS_LAST81", "F10.7_ADJ_CENTER81", "F10.7_ADJ_LAST81"};

/// The roles of the header's columns, or none when a required column is
/// missing. The fallback names count only when the preferred name is absent.
/// The optional columns get a role only when `with_extras` is set, so that a
/// caller who does not want them reads no further along a row than it needs.
std::optional<ColumnRoles> resolve_columns(const HeaderIndex& header, bool with_extras) {
  using Kind = ColumnRole::Kind;
  const auto date = header.find("DATE");
  const auto obs = header.find_first_of({"F10.7_OBS", "F10.7"});
  const auto adj = header.find_first_of({"F10.7_ADJ", "F10.7A"});
  const auto ap = header.find_first_of({"AP_AVG", "AP"});
  const auto ap_3hr = find_numbered_columns(header, "AP");
  const auto kp_3hr = find_numbered_columns(header, "KP");
  if (!date || !obs || !adj || !ap || !ap_3hr || !kp_3hr) return std::nullopt;

  ColumnRoles roles;
  const auto assign = [&roles](std::size_t position, Kind kind, std::size_t slot) {
    if (position >= roles.size()) roles.resize(position + 1);
    roles[position] = {kind, static_cast<std::uint8_t>(slot)};
  };
  assign(*date, Kind::date, 0);
  assign(*obs, Kind::f10_7_obs, 0);
  assign(*adj, Kind::f10_7_adj, 0);
  assign(*ap, Kind::ap_daily, 0);
  for (std::size_t slot = 0; slot < 8; ++slot) {
    assign((*ap_3hr)[slot], Kind::ap_3hr, slot);
    assign((*kp_3hr)[slot], Kind::kp_3hr, slot);
  }
  if (!with_extras) return roles;
  for (std::size_t extra = 0; extra < extra_names.size(); ++extra) {
    if (const auto position = header.find(extra_names[extra])) assign(*position, Kind::extra, extra);
  }
  if (const auto position = header.find("F10.7_DATA_TYPE")) assign(*position, Kind::data_type, 0);
  return roles;
}

/// The date, when month is 1-12 and day 1-31. The length of the month is
/// deliberately not checked.
std::optional<CivilDate> checked_date(std::uint64_t year, std::uint64_t month, std::uint64_t day) noexcept {
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return CivilDate{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

/// The date of a field written exactly "YYYY-MM-DD", as every published row
/// is; none for any other shape, which the general rules then judge.
std::optional<CivilDate> parse_iso_date(std::string_view field) noexcept {
  if (field.size() != 10 || field[4] != '-' || field[7] != '-') return std::nullopt;
  unsigned digits[8];
  constexpr std::array<std::size_t, 8> positions{0, 1, 2, 3, 5, 6, 8, 9};
  for (std::size_t i = 0; i < positions.size(); ++i) {
    digits[i] = static_cast<unsigned char>(field[positions[i]]) - unsigned{'0'};
    if (digits[i] >= 10) return std::nullopt;
  }
  return checked_date(digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3], digits[4] * 10 + digits[5],
                      digits[6] * 10 + digits[7]);
}

/// "YYYY-MM-DD", each part an optional '+' and digits; month 1-12, day 1-31.
[[gnu::always_inline]] inline std::optional<CivilDate> parse_csv_date(std::string_view field) noexcept {
  field = text::trim(field);
  if (const auto date = parse_iso_date(field)) return *date;
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
  return checked_date(*year, *month, *day);
}

/// The exact texts that stand for a missing value.
bool is_missing_marker(std::string_view field) noexcept {
  return field == "9999.9" || field == "99999" || field == "999.9";
}

/// A value field: empty text, a missing-value marker or anything that is not
/// a number gives absent.
std::optional<double> parse_optional_value(std::string_view field) noexcept {
  field = text::trim(field);
  if (field.empty() || is_missing_marker(field)) return std::nullopt;
  return text::parse_number(field);
}

struct ValueField {
  const char* end;  // the comma after the field, or the end of the line
  std::optional<double> value;
};

/// Reads the value field that starts at `p`. A plain decimal, the bulk of
/// every file, is converted in the same pass that finds the field's end;
/// anything else goes through the general rules.
/// Always inlined: it runs for every value field, and the reads with and
/// without extras each need their own copy inside the row loop.
[[gnu::always_inline]] inline ValueField read_value_field(const char* p, const char* const end) noexcept {
  const text::ShortDecimal scan = text::scan_short_decimal(p, end);
  if ((scan.stop == end || *scan.stop == ',') && scan.exact()) {
    // Only digits, a point and a sign: nothing to trim, but maybe a marker,
    // which only the digits 9999 and 99999 can spell.
    const bool maybe_marker = scan.mantissa == 9999 || scan.mantissa == 99999;
    if (maybe_marker && is_missing_marker({p, static_cast<std::size_t>(scan.stop - p)})) return {scan.stop, {}};
    return {scan.stop, scan.value()};
  }
  const char* const comma = find_comma(scan.stop, end);
  return {comma, parse_optional_value({p, static_cast<std::size_t>(comma - p)})};
}

/// The eight values of a row's 3-hourly columns, kept as they are read.
struct EightValues {
  ThreeHourly values{};
  unsigned present = 0;

  void set(std::uint8_t slot, const std::optional<double>& value) noexcept {
    if (!value) return;
    values[slot] = *value;
    ++present;
  }
  /// Sets the record's series only when all eight fields held a value.
  void store_if_complete(DailyIndices& record, Series series) const noexcept {
    if (present == values.size()) record.set(series, values);
  }
};

/// The data type a trimmed F10.7_DATA_TYPE field names.
F107DataType parse_data_type(std::string_view field) noexcept {
  if (field == "OBS") return F107DataType::observed;
  if (field == "INT") return F107DataType::interpolated;
  if (field == "PRD") return F107DataType::predicted_daily;
  if (field == "PRM") return F107DataType::predicted_monthly;
  return F107DataType::unknown;
}

/// An extras entry with every value absent, for a row about to be read.
CelestrakRowExtras absent_extras(std::uint64_t row) noexcept {
  CelestrakRowExtras extras;
  extras.values.fill(std::numeric_limits<double>::quiet_NaN());
  extras.data_type = F107DataType::unknown;
  extras.row = row;
  return extras;
}

/// Reads the fields of a trimmed `line` that the roles name into `record`
/// (and `extras`, which the roles name only `with_extras`) and returns the
/// date text. A field the row lacks reads as empty text. A template, so that
/// a read without extras runs no code for them.
template <bool with_extras>
std::string_view read_row(std::string_view line, const ColumnRoles& roles, DailyIndices& record,
                          CelestrakRowExtras* extras) noexcept {
  using Kind = ColumnRole::Kind;
  std::string_view date;
  EightValues ap_3hr, kp_3hr;
  const char* p = line.data();
  const char* const end = p + line.size();
  for (const ColumnRole role : roles) {
    const char* field_end;
    if (role.kind == Kind::ignored || role.kind == Kind::date || (with_extras && role.kind == Kind::data_type)) {
      field_end = find_comma(p, end);
      const std::string_view field{p, static_cast<std::size_t>(field_end - p)};
      if (role.kind == Kind::date) date = field;
      if constexpr (with_extras) {
        if (role.kind == Kind::data_type) extras->data_type = parse_data_type(text::trim(field));
      }
    } else {
      const ValueField field = read_value_field(p, end);
      field_end = field.end;
      switch (role.kind) {
        case Kind::f10_7_obs: record.set(Field::f10_7_obs, field.value); break;
        case Kind::f10_7_adj: record.set(Field::f10_7_adj, field.value); break;
        case Kind::ap_daily: record.set(Field::ap_daily, field.value); break;
        case Kind::ap_3hr: ap_3hr.set(role.slot, field.value); break;
        case Kind::kp_3hr: kp_3hr.set(role.slot, field.value); break;
        case Kind::extra:
          if constexpr (with_extras) {
            extras->values[role.slot] = field.value.value_or(std::numeric_limits<double>::quiet_NaN());
          }
          break;
        default: break;
      }
    }
    if (field_end == end) break;  // the row has no more fields
    p = field_end + 1;
  }
  ap_3hr.store_if_complete(record, Series::ap_3hr);
  kp_3hr.store_if_complete(record, Series::kp_3hr);
  return date;
}

template <bool with_extras>
Result<std::vector<DailyIndices>> read(std::string_view content, std::vector<CelestrakRowExtras>* extras) {
  if (!text::is_valid_utf8(content)) return DataError::invalid_csv_header();
  text::LineCursor lines(content);
  std::string_view line;
  if (!lines.next(line)) return DataError::invalid_csv_header();
  const auto roles = resolve_columns(HeaderIndex(line), with_extras);
  if (!roles) return DataError::invalid_csv_header();

  std::vector<DailyIndices> records;
  constexpr std::size_t shortest_row_bytes = 96;  // a CelesTrak row is 100-120 bytes
  records.reserve(content.size() / shortest_row_bytes);
  if constexpr (with_extras) extras->reserve(content.size() / shortest_row_bytes);
  while (lines.next(line)) {
    line = text::trim(line);
    if (line.empty()) continue;
    DailyIndices& record = records.emplace_back();
    CelestrakRowExtras* row_extras = nullptr;
    if constexpr (with_extras) row_extras = &extras->emplace_back(absent_extras(lines.line_number()));
    const auto date = parse_csv_date(read_row<with_extras>(line, *roles, record, row_extras));
    if (!date) return DataError::parse(lines.line_number(), "invalid date");
    record.date = *date;
  }
  return records;
}

}  // namespace

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, const ReadOptions&) {
  return read<false>(content, nullptr);
}

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, std::vector<CelestrakRowExtras>& extras,
                                                      const ReadOptions&) {
  return read<true>(content, &extras);
}

}  // namespace sunindex
