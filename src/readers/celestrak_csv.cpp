#include "readers/celestrak_csv.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "readers/field_scan.hpp"
#include "readers/line_chunks.hpp"
#include "readers/text.hpp"
#include "readers/word_bytes.hpp"

namespace sunindex {
namespace {

/// Column names of the header, trimmed, by position. A repeated name resolves
/// to its last occurrence.
class HeaderIndex {
 public:
  explicit HeaderIndex(std::string_view header_line) {
    // Every comma separates two names: there is no quoting.
    const char* p = header_line.data();
    const char* const end = p + header_line.size();
    for (;;) {
      const char* const comma = word_bytes::find_byte(p, end, ',');
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

  /// The first name the header gives more than one column, if any. Counted
  /// in one pass, as a hostile header may have a million names.
  std::optional<std::string_view> repeated_name() const {
    std::unordered_map<std::string_view, std::size_t> columns_named;
    columns_named.reserve(names_.size());
    for (const std::string_view name : names_) ++columns_named[name];
    for (const std::string_view name : names_) {
      if (columns_named[name] > 1) return name;
    }
    return std::nullopt;
  }

  std::size_t size() const noexcept { return names_.size(); }

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
  std::size_t position = 0;
};

/// The columns read, in column order, resolved from the header once per file
/// so that a row is read in one walk along it, visiting no other column.
struct ColumnRoles {
  std::vector<ColumnRole> read;
  std::size_t header_fields = 0;  // the fields every row must have in a strict read; 0 when not checked

  /// How many field ends a row's scan looks for: up to the last column read,
  /// or one past the header's fields when they are checked, so that a row
  /// with more fields shows.
  std::size_t fields_to_scan() const noexcept {
    return header_fields != 0 ? header_fields + 1 : read.back().position + 1;
  }
};

/// The roles of the header's columns, or none when a required column is
/// missing. The fallback names count only when the preferred name is absent.
/// The optional columns get a role only when `with_extras` is set, so that a
/// caller who does not want them reads no further along a row than it needs;
/// of the value columns, only those `values` names get one. A required column
/// is required whether its values are read or not.
std::optional<ColumnRoles> resolve_columns(const HeaderIndex& header, bool with_extras, const CelestrakValues& values) {
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
    by_position[position] = {kind, static_cast<std::uint8_t>(slot), position};
  };
  assign(*date, Kind::date, 0);
  if (values.f10_7_obs) assign(*obs, Kind::f10_7_obs, 0);
  if (values.f10_7_adj) assign(*adj, Kind::f10_7_adj, 0);
  if (values.ap_daily) assign(*ap, Kind::ap_daily, 0);
  for (std::size_t slot = 0; slot < 8; ++slot) {
    if (values.ap_3hr) assign((*ap_3hr)[slot], Kind::ap_3hr, slot);
    if (values.kp_3hr) assign((*kp_3hr)[slot], Kind::kp_3hr, slot);
  }
  if (with_extras) {
    for (std::size_t extra = 0; extra < celestrak_extra_names.size(); ++extra) {
      if ((values.extras & CelestrakRowExtras::bit(static_cast<CelestrakExtra>(extra))) == 0) continue;
      if (const auto position = header.find(celestrak_extra_names[extra])) assign(*position, Kind::extra, extra);
    }
    if (values.data_type) {
      if (const auto position = header.find("F10.7_DATA_TYPE")) assign(*position, Kind::data_type, 0);
    }
  }
  ColumnRoles roles;
  for (const ColumnRole& role : by_position) {
    if (role.kind != Kind::ignored) roles.read.push_back(role);
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
  for (std::size_t type = 1; type < f107_data_type_names.size(); ++type) {
    if (field == f107_data_type_names[type]) return static_cast<F107DataType>(type);
  }
  return F107DataType::unknown;
}

/// What read_row leaves for the row loop to judge.
struct RowText {
  std::string_view date;  // empty when the row ends before its column
  std::size_t fields;     // counted up to roles.fields_to_scan()
};

/// Reads the fields of a trimmed `line` that the roles name into `record`
/// (and `extras`, which the roles name only `with_extras`) and returns the
/// date text and the fields found. Fields the row lacks are not read.
/// `field_ends` has room for roles.fields_to_scan() ends. A template, so
/// that a read without extras runs no code for them, and so that each scan
/// path has its own loop.
template <bool with_extras, ScanPath path>
[[gnu::always_inline]] inline RowText read_row(std::string_view line, const char* readable_end,
                                               const ColumnRoles& roles, std::size_t* field_ends,
                                               DailyIndices& record, CelestrakRowExtras* extras) noexcept {
  using Kind = ColumnRole::Kind;
  const std::size_t fields =
      field_scan::find_field_ends<path>(line, readable_end, {field_ends, roles.fields_to_scan()});
  std::string_view date;
  EightValues ap_3hr, kp_3hr;
  for (const ColumnRole role : roles.read) {
    if (role.position >= fields) break;  // the row ends before this column
    const std::size_t start = role.position == 0 ? 0 : field_ends[role.position - 1] + 1;
    const std::string_view field{line.data() + start, field_ends[role.position] - start};
    switch (role.kind) {
      case Kind::ignored: break;
      case Kind::date: date = field; break;
      case Kind::f10_7_obs: record.set(Field::f10_7_obs, read_value(field, readable_end)); break;
      case Kind::f10_7_adj: record.set(Field::f10_7_adj, read_value(field, readable_end)); break;
      case Kind::ap_daily: record.set(Field::ap_daily, read_value(field, readable_end)); break;
      case Kind::ap_3hr: ap_3hr.set(role.slot, read_value(field, readable_end)); break;
      case Kind::kp_3hr: kp_3hr.set(role.slot, read_value(field, readable_end)); break;
      case Kind::extra:
        if constexpr (with_extras) {
          if (const auto value = read_value(field, readable_end)) extras->set(static_cast<CelestrakExtra>(role.slot), *value);
        }
        break;
      case Kind::data_type:
        if constexpr (with_extras) extras->data_type = parse_data_type(text::trim(field));
        break;
    }
  }
  ap_3hr.store_if_complete(record, Series::ap_3hr);
  kp_3hr.store_if_complete(record, Series::kp_3hr);
  return {date, fields};
}

/// A strict read's error for a row whose field count is not the header's.
DataError field_count_error(std::uint64_t row, std::string_view line, std::size_t header_fields) {
  const auto fields = static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
  return DataError::parse(row,
                          std::to_string(fields) + " fields where the header has " + std::to_string(header_fields));
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
/// path below, so that each entry is the row loop itself. A `strict` read
/// reads the lines before the part's first LineFault, then reports the fault,
/// and checks each row's field count and date.
template <bool with_extras, ScanPath path>
[[gnu::always_inline]] inline std::optional<DataError> read_rows(std::string_view part, std::string_view body,
                                                                 const ColumnRoles& roles, bool strict,
                                                                 RowsRead& out) {
  std::optional<text::LineFault> fault;
  if (strict) {
    fault = text::first_line_fault(part);
    if (fault) part = part.substr(0, fault->offset);
  } else if (!text::is_valid_utf8(part)) {
    return DataError::invalid_csv_header();
  }
  std::uint64_t lines_before = 1;  // the header's
  if constexpr (with_extras) {
    // Only the extras keep a row's number; the second part counts the lines
    // before it while the first is read.
    lines_before += line_chunks::count_lines(body.substr(0, static_cast<std::size_t>(part.data() - body.data())));
    out.extras.reserve(part.size() / shortest_row_bytes);
  }
  out.records.reserve(part.size() / shortest_row_bytes);  // for the first part, already the whole body's
  std::vector<std::size_t> field_ends(roles.fields_to_scan());
  const char* const readable_end = body.data() + body.size();
  text::LineCursor lines(part);
  std::string_view line;
  while (lines.next(line)) {
    line = text::trim(line);
    if (line.empty()) continue;
    DailyIndices& record = out.records.emplace_back();
    CelestrakRowExtras* row_extras = nullptr;
    if constexpr (with_extras) {
      row_extras = &out.extras.emplace_back(CelestrakRowExtras::absent(lines_before + lines.line_number()));
    }
    const RowText row = read_row<with_extras, path>(line, readable_end, roles, field_ends.data(), record, row_extras);
    if (strict && row.fields != roles.header_fields) {
      return field_count_error(lines.line_number(), line, roles.header_fields);
    }
    const auto date = parse_csv_date(row.date);
    if (!date) return DataError::parse(lines.line_number(), "invalid date");
    if (strict) {
      if (const char* date_fault = strict_date_fault(*date)) return DataError::parse(lines.line_number(), date_fault);
    }
    record.date = *date;
  }
  if (fault) return DataError::parse(fault->line_number, fault->message);
  return std::nullopt;
}

template <bool with_extras>
using RowReader = std::optional<DataError> (*)(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                               bool strict, RowsRead& out);

template <bool with_extras>
std::optional<DataError> read_rows_portable(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                            bool strict, RowsRead& out) {
  return read_rows<with_extras, ScanPath::portable>(part, body, roles, strict, out);
}

#if defined(__x86_64__)
template <bool with_extras>
std::optional<DataError> read_rows_sse2(std::string_view part, std::string_view body, const ColumnRoles& roles,
                                        bool strict, RowsRead& out) {
  return read_rows<with_extras, ScanPath::sse2>(part, body, roles, strict, out);
}
#endif

/// The row reader of the path the options ask for, never wider than the
/// processor runs.
template <bool with_extras>
RowReader<with_extras> row_reader(const ReadOptions& options) noexcept {
  switch (std::min(options.scan_path, widest_scan_path())) {
#if defined(__x86_64__)
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
                                       const ReadOptions& options, const CelestrakValues& values) {
  text::LineCursor lines(content);
  std::string_view header;
  if (!lines.next(header) || !text::is_valid_utf8(header)) return DataError::invalid_csv_header();
  const std::string_view body = lines.rest();
  const HeaderIndex names(header);
  const bool strict = options.strict_structure;
  if (strict) {
    if (const auto fault = text::first_line_fault(content.substr(0, content.size() - body.size()))) {
      return DataError::parse(1, fault->message);
    }
    if (const auto name = names.repeated_name()) {
      return DataError::parse(1, "the header names column \"" + std::string(*name) + "\" twice");
    }
  }
  auto roles = resolve_columns(names, with_extras, values);
  // In a lenient read, the same error as a body that is not UTF-8.
  if (!roles) return DataError::invalid_csv_header();
  if (strict) roles->header_fields = names.size();
  const RowReader<with_extras> read_part = row_reader<with_extras>(options);
  RowsRead first, second;
  first.records.reserve(body.size() / shortest_row_bytes);  // room for both parts
  if constexpr (with_extras) first.extras.reserve(body.size() / shortest_row_bytes);
  auto error = line_chunks::read_in_two(
      body, options, 1,
      [&](std::string_view part, RowsRead& out) { return read_part(part, body, *roles, strict, out); },
      first, second);
  if (error) return std::move(*error);
  append(first, std::move(second));
  if constexpr (with_extras) *extras = std::move(first.extras);
  return std::move(first.records);
}

}  // namespace

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, const ReadOptions& options) {
  return read<false>(content, nullptr, options, CelestrakValues{});
}

Result<std::vector<DailyIndices>> parse_celestrak_csv(std::string_view content, std::vector<CelestrakRowExtras>& extras,
                                                      const ReadOptions& options, const CelestrakValues& values) {
  return read<true>(content, &extras, options, values);
}

}  // namespace sunindex
