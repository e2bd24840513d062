#include "readers/celestrak_csv.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <limits>
#include <optional>

#include "readers/field_scan.hpp"
#include "readers/line_chunks.hpp"
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

/// Where a number read from a row goes until the row is done: every value
/// column has its own slot, so that reading a field is the same few steps
/// whatever the column.
namespace target {
constexpr std::uint8_t f10_7_obs = 0, f10_7_adj = 1, ap_daily = 2;
constexpr std::uint8_t ap_3hr = 3;   // eight slots
constexpr std::uint8_t kp_3hr = 11;  // eight slots
constexpr std::uint8_t extra = 19;   // one slot per CelestrakExtra
constexpr std::size_t count = extra + static_cast<std::size_t>(CelestrakExtra::count);
}  // namespace target

/// A value column: its position in a row and its target.
struct ValueColumn {
  std::size_t position;
  std::uint8_t target;
};

/// The columns read, resolved from the header once per file, so that a row
/// is read in one walk along it, visiting no other column.
struct ColumnRoles {
  std::size_t date;                        // the DATE column
  std::optional<std::size_t> data_type;    // F10.7_DATA_TYPE, read with the extras only
  std::vector<ValueColumn> values;         // in column order
  std::size_t columns;                     // one past the last column read
};

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

  std::vector<ColumnRole> by_position;
  const auto assign = [&by_position](std::size_t position, Kind kind, std::size_t slot) {
    if (position >= by_position.size()) by_position.resize(position + 1);
    by_position[position] = {kind, static_cast<std::uint8_t>(slot)};
  };
  assign(*date, Kind::date, 0);
  assign(*obs, Kind::f10_7_obs, 0);
  assign(*adj, Kind::f10_7_adj, 0);
  assign(*ap, Kind::ap_daily, 0);
  for (std::size_t slot = 0; slot < 8; ++slot) {
    assign((*ap_3hr)[slot], Kind::ap_3hr, slot);
    assign((*kp_3hr)[slot], Kind::kp_3hr, slot);
  }
  if (with_extras) {
    for (std::size_t extra = 0; extra < extra_names.size(); ++extra) {
      if (const auto position = header.find(extra_names[extra])) assign(*position, Kind::extra, extra);
    }
    if (const auto position = header.find("F10.7_DATA_TYPE")) assign(*position, Kind::data_type, 0);
  }
  ColumnRoles roles{.date = 0, .data_type = std::nullopt, .values = {}, .columns = by_position.size()};
  for (std::size_t position = 0; position < by_position.size(); ++position) {
    const auto [kind, slot] = by_position[position];
    const auto value_column = [&](std::size_t to) {
      roles.values.push_back({position, static_cast<std::uint8_t>(to)});
    };
    switch (kind) {
      case Kind::ignored: break;
      case Kind::date: roles.date = position; break;
      case Kind::data_type: roles.data_type = position; break;
      case Kind::f10_7_obs: value_column(target::f10_7_obs); break;
      case Kind::f10_7_adj: value_column(target::f10_7_adj); break;
      case Kind::ap_daily: value_column(target::ap_daily); break;
      case Kind::ap_3hr: value_column(target::ap_3hr + slot); break;
      case Kind::kp_3hr: value_column(target::kp_3hr + slot); break;
      case Kind::extra: value_column(target::extra + slot); break;
    }
  }
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

/// A value field. A short plain decimal, the bulk of every file, is read at
/// once: up to four bytes a byte at a time, which costs the fewest
/// instructions, and up to eight as one word when the word lies inside the
/// text (`readable_end`). Anything else goes through the general rules.
/// Always inlined: it runs for every value field, inside each instance of
/// the row loop.
[[gnu::always_inline]] inline std::optional<double> read_value(std::string_view field,
                                                               const char* readable_end) noexcept {
  constexpr std::size_t bytewise = 4, word = 8;  // every marker is longer than four bytes
  if (field.size() <= bytewise) {
    const char* const end = field.data() + field.size();
    const text::ShortDecimal scan = text::scan_short_decimal(field.data(), end);
    if (scan.stop == end && scan.exact()) return scan.value();
  } else if (field.size() <= word && readable_end - field.data() >= static_cast<std::ptrdiff_t>(word)) {
    const auto scan = text::scan_plain_decimal(field.data(), field.size());
    // A marker is a plain decimal too, but only the digits 9999 and 99999 can spell one.
    if (scan && scan->mantissa != 9999 && scan->mantissa != 99999) {
      return text::short_decimal_value(scan->mantissa, scan->fraction_digits, scan->negative);
    }
  }
  return parse_optional_value(field);
}

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

/// The numbers of a row, each in its target's slot, and which slots are set.
struct RowValues {
  std::array<double, target::count> values;
  std::uint32_t present = 0;

  bool has(std::size_t slot) const noexcept { return (present >> slot & 1) != 0; }
  /// Whether every one of the eight slots from `first` is set.
  bool has_eight(std::size_t first) const noexcept { return (present >> first & 0xFF) == 0xFF; }
  ThreeHourly eight(std::size_t first) const noexcept {
    ThreeHourly slots;
    std::copy_n(values.begin() + first, slots.size(), slots.begin());
    return slots;
  }
};

/// Moves a row's numbers into its record and, `with_extras`, its extras. A
/// 3-hourly series is kept only when all eight fields held a value.
template <bool with_extras>
void store(const RowValues& row, DailyIndices& record, CelestrakRowExtras* extras) noexcept {
  if (row.has(target::f10_7_obs)) record.set(Field::f10_7_obs, row.values[target::f10_7_obs]);
  if (row.has(target::f10_7_adj)) record.set(Field::f10_7_adj, row.values[target::f10_7_adj]);
  if (row.has(target::ap_daily)) record.set(Field::ap_daily, row.values[target::ap_daily]);
  if (row.has_eight(target::ap_3hr)) record.set(Series::ap_3hr, row.eight(target::ap_3hr));
  if (row.has_eight(target::kp_3hr)) record.set(Series::kp_3hr, row.eight(target::kp_3hr));
  if constexpr (with_extras) {
    for (std::size_t e = 0; e < extras->values.size(); ++e) {
      if (row.has(target::extra + e)) extras->values[e] = row.values[target::extra + e];
    }
  }
}

/// Reads the fields of a trimmed `line` that the roles name into `record`
/// (and `extras`, which the roles name only `with_extras`) and returns the
/// date text. Fields the row lacks are not read: the date stays empty text.
/// `field_ends` has room for an end per column read, and field_ends[-1] is
/// SIZE_MAX, so that the field at any position starts one past the end
/// before it. A template, so that a read without extras runs no code for
/// them, and so that each scan path has its own loop.
template <bool with_extras, ScanPath path>
[[gnu::always_inline]] inline std::string_view read_row(std::string_view line, const char* readable_end,
                                                        const ColumnRoles& roles, std::size_t* field_ends,
                                                        DailyIndices& record, CelestrakRowExtras* extras) noexcept {
  const std::size_t fields = field_scan::find_field_ends<path>(line, readable_end, {field_ends, roles.columns});
  const auto field_at = [&](std::size_t position) {
    const std::size_t start = field_ends[static_cast<std::ptrdiff_t>(position) - 1] + 1;
    return std::string_view{line.data() + start, field_ends[position] - start};
  };
  RowValues row;
  for (const ValueColumn column : roles.values) {
    if (column.position >= fields) break;  // the row ends before this column
    if (const auto value = read_value(field_at(column.position), readable_end)) {
      row.values[column.target] = *value;
      row.present |= std::uint32_t{1} << column.target;
    }
  }
  store<with_extras>(row, record, extras);
  if constexpr (with_extras) {
    if (roles.data_type && *roles.data_type < fields) {
      extras->data_type = parse_data_type(text::trim(field_at(*roles.data_type)));
    }
  }
  return roles.date < fields ? field_at(roles.date) : std::string_view{};
}

/// What a read of some lines gives: a record per data row and, when kept, as
/// many extras.
struct RowsRead {
  std::vector<DailyIndices> records;
  std::vector<CelestrakRowExtras> extras;
};

constexpr std::size_t shortest_row_bytes = 96;  // a CelesTrak row is 100-120 bytes

/// Reads the rows of `part`, whole lines of the text after the header, into
/// `out`; returns the first error, its row counted from 1 within the part.
/// `body` is that whole text, for the rows the extras keep; the part's blocks
/// are read up to the body's end. Always inlined into the entry of its scan
/// path below, so that the path's vector instructions are allowed in it.
template <bool with_extras, ScanPath path>
[[gnu::always_inline]] inline std::optional<DataError> read_rows(std::string_view part, std::string_view body,
                                                                 const ColumnRoles& roles, RowsRead& out) {
  if (!text::is_valid_utf8(part)) return DataError::invalid_csv_header();
  std::uint64_t lines_before = 1;  // the header's
  if constexpr (with_extras) {
    // Only the extras keep a row's number; the second part counts the lines
    // before it while the first is read.
    lines_before += line_chunks::count_lines(body.substr(0, static_cast<std::size_t>(part.data() - body.data())));
    out.extras.reserve(part.size() / shortest_row_bytes);
  }
  out.records.reserve(part.size() / shortest_row_bytes);  // for the first part, already the whole body's
  std::vector<std::size_t> field_ends(roles.columns + 1);
  field_ends[0] = SIZE_MAX;  // the end before the first field
  const char* const readable_end = body.data() + body.size();
  text::LineCursor lines(part);
  std::string_view line;
  while (lines.next(line)) {
    line = text::trim(line);
    if (line.empty()) continue;
    DailyIndices& record = out.records.emplace_back();
    CelestrakRowExtras* row_extras = nullptr;
    if constexpr (with_extras) row_extras = &out.extras.emplace_back(absent_extras(lines_before + lines.line_number()));
    const auto date = parse_csv_date(
        read_row<with_extras, path>(line, readable_end, roles, field_ends.data() + 1, record, row_extras));
    if (!date) return DataError::parse(lines.line_number(), "invalid date");
    record.date = *date;
  }
  return std::nullopt;
}

template <bool with_extras>
using RowReader = std::optional<DataError> (*)(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                               RowsRead& out);

template <bool with_extras>
std::optional<DataError> read_rows_portable(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                            RowsRead& out) {
  return read_rows<with_extras, ScanPath::portable>(part, body, roles, out);
}

#if defined(__x86_64__)
template <bool with_extras>
std::optional<DataError> read_rows_sse2(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                        RowsRead& out) {
  return read_rows<with_extras, ScanPath::sse2>(part, body, roles, out);
}

// Flattened, so that the AVX2 scan is inlined here, the only kind of
// function it may be inlined into.
template <bool with_extras>
[[gnu::target("avx2"), gnu::flatten]] std::optional<DataError> read_rows_avx2(std::string_view part,
                                                                              std::string_view body,
                                                                              const ColumnRoles& roles,
                                                                              RowsRead& out) {
  return read_rows<with_extras, ScanPath::avx2>(part, body, roles, out);
}
#endif

/// The row reader of the path the options ask for, never wider than the
/// processor runs.
template <bool with_extras>
RowReader<with_extras> row_reader(const ReadOptions& options) noexcept {
  switch (std::min(options.scan_path, widest_scan_path())) {
#if defined(__x86_64__)
    case ScanPath::avx2: return read_rows_avx2<with_extras>;
    case ScanPath::sse2: return read_rows_sse2<with_extras>;
#endif
    default: return read_rows_portable<with_extras>;
  }
}

/// `second`'s records and extras after `first`'s.
void append(RowsRead& first, RowsRead&& second) {
  first.records.insert(first.records.end(), second.records.begin(), second.records.end());
  first.extras.insert(first.extras.end(), second.extras.begin(), second.extras.end());
}

template <bool with_extras>
Result<std::vector<DailyIndices>> read(std::string_view content, std::vector<CelestrakRowExtras>* extras,
                                       const ReadOptions& options) {
  text::LineCursor lines(content);
  std::string_view header;
  if (!lines.next(header) || !text::is_valid_utf8(header)) return DataError::invalid_csv_header();
  const std::string_view body = lines.rest();
  const auto roles = resolve_columns(HeaderIndex(header), with_extras);
  if (!roles) {
    // The text's encoding is judged first: either way the header error.
    return DataError::invalid_csv_header();
  }
  const RowReader<with_extras> read_part = row_reader<with_extras>(options);
  RowsRead first, second;
  first.records.reserve(body.size() / shortest_row_bytes);  // room for both parts
  if constexpr (with_extras) first.extras.reserve(body.size() / shortest_row_bytes);
  auto error = line_chunks::read_in_two(
      body, options, 1, [&](std::string_view part, RowsRead& out) { return read_part(part, body, *roles, out); },
      first, second);
  if (error) return std::move(*error);
  append(first, std::move(second));
  if constexpr (with_extras) *extras = std::move(first.extras);
  return std::move(first.records);
}

}  // namespace

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, const ReadOptions& options) {
  return read<false>(content, nullptr, options);
}

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, std::vector<CelestrakRowExtras>& extras,
                                                      const ReadOptions& options) {
  return read<true>(content, &extras, options);
}

}  // namespace sunindex
