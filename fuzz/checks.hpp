#pragma once

// Properties that every reader must keep on any input, shared by the three
// fuzz targets. A broken property prints what broke and aborts, which
// libFuzzer reports as a crash and saves the input for.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "readers/read_options.hpp"
#include "readers/text.hpp"
#include "store/data_error.hpp"
#include "store/index_store.hpp"

namespace fuzz {

using sunindex::CivilDate;
using sunindex::DailyIndices;
using sunindex::DataError;
using sunindex::IndexStore;

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "\nPROPERTY BROKEN: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void require(bool holds, const char* what, std::string_view detail = {}) {
  if (!holds) fail(what, detail);
}

// ---------------------------------------------------------------------------
// Independent oracles, written from the format rules rather than from the
// code under test.

/// RFC 3629 by decoding each code point: no overlong form, no surrogate,
/// nothing above U+10FFFF, no truncated sequence.
inline bool utf8_oracle(std::string_view s) {
  static constexpr std::uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (b < 0x80) { ++i; continue; }
    if ((b & 0xE0) == 0xC0) { n = 2; cp = b & 0x1F; }
    else if ((b & 0xF0) == 0xE0) { n = 3; cp = b & 0x0F; }
    else if ((b & 0xF8) == 0xF0) { n = 4; cp = b & 0x07; }
    else return false;
    if (s.size() - i < n) return false;
    for (std::size_t k = 1; k < n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

/// The float syntax: [+-] then digits with at most one '.' and at least one
/// digit, optional e/E [+-] digits; or inf, infinity, nan in any case.
inline bool number_syntax_oracle(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::string word;
  for (std::size_t k = i; k < s.size(); ++k) {
    const char c = s[k];
    word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (word == "inf" || word == "infinity" || word == "nan") return true;
  std::size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') ++digits;
    else if (s[i] == '.' && !point) point = true;
    else break;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == s.size();
}

/// parse_number accepts exactly the syntax, and where it does, gives the
/// same double as the C library's correctly rounded strtod (NaN: any sign).
inline void check_number(std::string_view s) {
  const auto got = sunindex::text::parse_number(s);
  const bool valid = number_syntax_oracle(s);
  require(got.has_value() == valid, valid ? "parse_number refused valid syntax" : "parse_number accepted bad syntax", s);
  if (!valid) return;
  const std::string terminated(s);
  char* end = nullptr;
  const double want = std::strtod(terminated.c_str(), &end);
  require(end == terminated.c_str() + terminated.size(), "strtod did not consume a valid number", s);
  if (std::isnan(want) || std::isnan(*got)) {
    require(std::isnan(want) && std::isnan(*got), "NaN on one side only", s);
    return;
  }
  std::uint64_t got_bits, want_bits;
  std::memcpy(&got_bits, &*got, sizeof got_bits);
  std::memcpy(&want_bits, &want, sizeof want_bits);
  require(got_bits == want_bits, "parse_number differs from strtod", s);
}

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

/// The eight-bytes-at-a-time field readers answer only where the general
/// rules would give the same, and then give exactly that: every field of 1
/// to 8 bytes at the input's first offsets (with 8 bytes readable) is read
/// both ways.
inline void check_word_readers(std::string_view data) {
  namespace text = sunindex::text;
  for (std::size_t at = 0; at + 8 <= data.size() && at < 256; ++at) {
    const char* p = data.data() + at;
    for (std::size_t width = 1; width <= 8; ++width) {
      const std::string_view field(p, width), trimmed = text::trim(field);
      if (const auto plain = text::scan_plain_decimal(p, width)) {
        const auto general = text::parse_number(field);
        require(general && same_bits(*general, text::short_decimal_value(plain->mantissa, plain->fraction_digits,
                                                                          plain->negative)),
                "scan_plain_decimal differs from parse_number", field);
      }
      if (const auto value = text::parse_right_aligned_decimal(p, width)) {
        const auto general = text::parse_number(trimmed);
        require(general && same_bits(*general, *value), "parse_right_aligned_decimal differs from parse_number", field);
      }
      if (const auto value = text::parse_right_aligned_int32(p, width)) {
        require(text::parse_int32(trimmed) == value, "parse_right_aligned_int32 differs from parse_int32", field);
      }
      if (const auto value = text::parse_right_aligned_unsigned(p, width, 65535)) {
        require(text::parse_unsigned(trimmed, 65535) == value, "parse_right_aligned_unsigned differs", field);
      }
    }
    std::int32_t first = 0, second = 0;
    if (text::parse_right_aligned_int32_pair(p, first, second)) {
      require(text::parse_int32(text::trim({p, 4})) == first && text::parse_int32(text::trim({p + 4, 4})) == second,
              "parse_right_aligned_int32_pair differs from parse_int32", {p, 8});
    }
  }
}

/// Feeds every piece of the input between separators to check_number, and
/// the whole input when short, so mutations of numbers anywhere are checked.
inline void check_numbers_in(std::string_view data) {
  if (data.size() <= 48) check_number(data);
  std::size_t start = 0, checked = 0;
  for (std::size_t i = 0; i <= data.size() && checked < 512; ++i) {
    if (i == data.size() || std::strchr(",\n\r \t", data[i]) != nullptr || data[i] == '\0') {
      if (i > start) { check_number(data.substr(start, i - start)); ++checked; }
      start = i + 1;
    }
  }
}

// ---------------------------------------------------------------------------
// Lines, counted as the readers count them: a line ends at LF, and text after
// the last LF is one more line.

inline std::uint64_t count_lines(std::string_view s) {
  std::uint64_t n = 0;
  for (const char c : s) n += c == '\n';
  return n + (!s.empty() && s.back() != '\n' ? 1 : 0);
}

/// Line `row` (1-based) without its LF and one CR before it.
inline std::string_view line_at(std::string_view s, std::uint64_t row) {
  for (std::uint64_t r = 1; r < row; ++r) s.remove_prefix(s.find('\n') + 1);
  std::string_view line = s.substr(0, s.find('\n'));
  if (line.size() != s.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// ---------------------------------------------------------------------------
// Records and stores

/// One optional value field of a record, by index 0-10, as presence + bits.
struct FieldBits {
  bool present;
  std::vector<std::uint64_t> bits;
  bool operator==(const FieldBits&) const = default;
};

inline std::vector<std::uint64_t> bits_of(const double* values, std::size_t n) {
  std::vector<std::uint64_t> out(n);
  std::memcpy(out.data(), values, n * sizeof(double));
  return out;
}

inline FieldBits field_bits(const std::optional<double>& field) {
  if (!field) return {false, {}};
  return {true, bits_of(&*field, 1)};
}
inline FieldBits field_bits(const sunindex::ThreeHourly* series) {
  if (!series) return {false, {}};
  return {true, bits_of(series->data(), series->size())};
}

constexpr std::size_t field_count = 11;

inline FieldBits field(const DailyIndices& r, std::size_t i) {
  switch (i) {
    case 0: return field_bits(r.get(sunindex::Field::f10_7_obs));
    case 1: return field_bits(r.get(sunindex::Field::f10_7_adj));
    case 2: return field_bits(r.get(sunindex::Field::f10_7_jb));
    case 3: return field_bits(r.get(sunindex::Field::f10_7_jb_81c));
    case 4: return field_bits(r.get(sunindex::Field::ap_daily));
    case 5: return field_bits(r.get(sunindex::Series::ap_3hr));
    case 6: return field_bits(r.get(sunindex::Series::kp_3hr));
    case 7: return field_bits(r.get(sunindex::Field::s10_7));
    case 8: return field_bits(r.get(sunindex::Field::m10_7));
    case 9: return field_bits(r.get(sunindex::Field::y10_7));
    default: return field_bits(r.get(sunindex::Field::dtc));
  }
}

inline bool same_record(const DailyIndices& a, const DailyIndices& b) {
  if (a.date != b.date) return false;
  for (std::size_t i = 0; i < field_count; ++i) {
    if (!(field(a, i) == field(b, i))) return false;
  }
  return true;
}

inline bool same_records(std::span<const DailyIndices> a, std::span<const DailyIndices> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_record(a[i], b[i])) return false;
  }
  return true;
}

/// The store built from `records` holds one record per input date, strictly
/// ascending, each field from the earliest input record of that date that has
/// it; lookups agree; merging a split of the records gives the same store.
inline void check_store(const std::vector<DailyIndices>& records, std::size_t split_seed) {
  const IndexStore store = IndexStore::from_records(records);
  const auto all = store.all();
  require(store.len() == all.size(), "len differs from all().size()");
  for (std::size_t i = 1; i < all.size(); ++i) require(all[i - 1].date < all[i].date, "store not strictly ascending");

  std::map<CivilDate, std::vector<std::size_t>> by_date;  // input positions per date, file order
  for (std::size_t i = 0; i < records.size(); ++i) by_date[records[i].date].push_back(i);
  require(by_date.size() == all.size(), "store size differs from the number of distinct dates");
  std::size_t k = 0;
  for (const auto& [date, positions] : by_date) {
    const DailyIndices& stored = all[k++];
    require(stored.date == date, "store dates differ from input dates");
    require(store.get(date) == &stored, "get() misses a stored date");
    for (std::size_t f = 0; f < field_count; ++f) {
      FieldBits want{false, {}};
      for (const std::size_t p : positions) {
        if (auto candidate = field(records[p], f); candidate.present) { want = candidate; break; }
      }
      require(field(stored, f) == want, "field not taken from the earliest record that has it");
    }
  }
  if (all.empty()) {
    require(!store.date_range(), "empty store has a date range");
    return;
  }
  const auto span = store.date_range();
  require(span && span->first == all.front().date && span->second == all.back().date, "date_range wrong");
  require(same_records(store.get_range(span->first, span->second), all), "full get_range differs from all()");
  require(store.get_range(span->second, span->first).empty() || span->first == span->second,
          "reversed get_range not empty");

  // Merge of two stores built from a split equals the store of the whole.
  const std::size_t cut = split_seed % (records.size() + 1);
  IndexStore left = IndexStore::from_records({records.begin(), records.begin() + static_cast<std::ptrdiff_t>(cut)});
  IndexStore right = IndexStore::from_records({records.begin() + static_cast<std::ptrdiff_t>(cut), records.end()});
  left.merge(right);
  require(right.len() == 0 && right.all().empty(), "merge left the argument non-empty");
  require(same_records(left.all(), all), "merge of a split differs from the store of the whole");
}

/// Which of the eleven value fields a reader fills, by field index.
struct Filled {
  std::initializer_list<std::size_t> always;     // present in every record
  std::initializer_list<std::size_t> sometimes;  // may be present
};

inline void check_fields(const std::vector<DailyIndices>& records, const Filled& filled) {
  for (const auto& r : records) {
    for (std::size_t f = 0; f < field_count; ++f) {
      const bool always = std::find(filled.always.begin(), filled.always.end(), f) != filled.always.end();
      const bool sometimes = std::find(filled.sometimes.begin(), filled.sometimes.end(), f) != filled.sometimes.end();
      const bool present = field(r, f).present;
      if (always) require(present, "a field the reader always fills is absent");
      else if (!sometimes) require(!present, "a field the reader never fills is present");
    }
  }
}

/// The checks common to every reader's result. `messages` are the row-error
/// messages the reader may produce; rows run from 1 to the number of lines.
template <class Result>
void check_result(std::string_view data, Result& result, bool csv, std::initializer_list<const char*> messages,
                  std::size_t min_line_length, const Filled& filled) {
  const bool utf8 = utf8_oracle(data);
  require(sunindex::text::is_valid_utf8(data) == utf8, "is_valid_utf8 differs from decoding");
  const std::uint64_t lines = count_lines(data);
  if (result.ok()) {
    auto& records = result.value();
    require(utf8, "records from invalid UTF-8");
    require(records.size() <= lines, "more records than lines");
    if (csv) require(records.size() + 1 <= lines || records.empty(), "a CSV record from the header line");
    check_fields(records, filled);
    check_store(records, data.size() * 7 + (data.empty() ? 0 : static_cast<unsigned char>(data[0])));
    return;
  }
  const DataError& error = result.error();
  const std::string text = error.text();
  require(!text.empty(), "empty error text");
  if (error.kind() == DataError::Kind::invalid_csv_header) {
    require(csv, "header error from a fixed-column reader");
    require(error.row() == 0, "header error with a row");
    require(text == "invalid or missing CSV header", "header error text", text);
    return;
  }
  require(error.kind() == DataError::Kind::parse, "unknown error kind");
  require(error.row() <= lines, "error row beyond the last line", text);
  require(text == "parse error at row " + std::to_string(error.row()) + ": " + error.message(), "error text", text);
  bool known = false;
  for (const char* m : messages) known = known || error.message() == m;
  require(known, "unexpected error message", text);
  if (error.message() == "invalid utf-8") {
    require(!utf8 && error.row() == 0, "invalid utf-8 reported for valid UTF-8", text);
    return;
  }
  require(utf8, "row error for invalid UTF-8 (the UTF-8 error must come first)", text);
  require(error.row() >= (csv ? 2u : 1u), "row error at a row no data line can have", text);
  if (!csv) {
    const bool short_line = line_at(data, error.row()).size() < min_line_length;
    require(short_line == (error.message() == "line too short"), "line length and error disagree", text);
  }
}

// ---------------------------------------------------------------------------
// Scan paths and split reads

/// Both results hold the same records bit for bit, or the same error text.
template <class Result>
bool same_result(Result& a, Result& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error().text() == b.error().text();
  return same_records(a.value(), b.value());
}

/// Every scan path, read whole and cut in two at a line end as a long text
/// is, gives `result`, the reader's answer with the default options; and the
/// read that keeps the extras depends on neither the path nor the cut. `read(data, options)` reads without extras,
/// `read_extras(data, extras, options)` with them, and `same_extra(a, b)`
/// compares two rows' extras bit for bit.
template <class Extras, class Result, class Read, class ReadExtras, class SameExtra>
void check_paths_agree(std::string_view data, Result& result, Read read, ReadExtras read_extras,
                       SameExtra same_extra) {
  using sunindex::ReadOptions;
  using sunindex::ScanPath;
  const auto same_extras = [&](const std::vector<Extras>& a, const std::vector<Extras>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same_extra);
  };
  std::vector<Extras> reference_extras;
  auto with_extras = read_extras(data, reference_extras, ReadOptions{});
  // The extras may fail a row of their own; a read that keeps them and
  // succeeds has the same records.
  if (with_extras.ok()) require(same_result(result, with_extras), "the read with extras gives other records");
  // A strict read refuses more, but what it accepts it reads as the lenient read does.
  std::vector<Extras> strict_extras;
  auto strict = read_extras(data, strict_extras, ReadOptions{.strict_structure = true});
  if (strict.ok()) {
    require(same_result(with_extras, strict) && same_extras(reference_extras, strict_extras),
            "a strict read that succeeds differs from the lenient read");
  }
  constexpr std::size_t never = SIZE_MAX, always = 0;
  for (const ScanPath path : {ScanPath::portable, ScanPath::sse2}) {
    for (const std::size_t parallel_from : {never, always}) {
      const ReadOptions options{path, parallel_from};
      auto other = read(data, options);
      require(same_result(result, other), "a scan path or a read cut in two gives another result");
      std::vector<Extras> extras;
      auto other_with_extras = read_extras(data, extras, options);
      require(same_result(with_extras, other_with_extras), "a scan path or a cut changes the read with extras");
      if (other_with_extras.ok()) require(same_extras(reference_extras, extras), "a scan path or a cut changes the extras");
      std::vector<Extras> other_strict_extras;
      auto other_strict = read_extras(data, other_strict_extras, ReadOptions{path, parallel_from, true});
      require(same_result(strict, other_strict), "a scan path or a cut changes the strict read");
      if (other_strict.ok()) require(same_extras(strict_extras, other_strict_extras), "a scan path or a cut changes the strict extras");
    }
  }
}

}  // namespace fuzz
