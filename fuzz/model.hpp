#pragma once

// Reference readers: the formats read the plainest way, from their
// rules alone, with strings and strtod and no attention to speed. A fuzz
// target compares the real reader with its model on every input, so a fast
// path that drifts from the rules shows up as a difference.

#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks.hpp"
#include "readers/celestrak_csv.hpp"
#include "readers/solfsmy.hpp"
#include "readers/swpc_forecast.hpp"

namespace fuzz::model {

/// What a model reader returns: records, or the error's kind, row and message.
struct Outcome {
  bool ok = true;
  std::vector<DailyIndices> records;
  bool header_error = false;
  std::uint64_t row = 0;
  std::string message;
  // The CSV's optional columns of each record, by CelestrakExtra; none where the row gives no number.
  std::vector<std::array<std::optional<double>, sunindex::celestrak_extra_names.size()>> csv_extras;
};

inline Outcome header_error() { return {false, {}, true, 0, {}}; }
inline Outcome parse_error(std::uint64_t row, std::string message) { return {false, {}, false, row, std::move(message)}; }

/// The UTF-8 encodings of the White_Space characters.
inline const std::vector<std::string>& white_space() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> out;
    for (char c : std::string("\t\n\v\f\r ")) out.emplace_back(1, c);
    for (const char* s : {"\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                          "\xE2\x81\x9F", "\xE3\x80\x80"}) {
      out.emplace_back(s);
    }
    for (char c = '\x80'; c != '\x8B'; ++c) out.push_back(std::string("\xE2\x80") + c);  // U+2000-U+200A
    return out;
  }();
  return all;
}

inline std::string_view trim(std::string_view s) {
  for (bool again = true; again;) {
    again = false;
    for (const auto& w : white_space()) {
      if (s.starts_with(w)) { s.remove_prefix(w.size()); again = true; }
      if (s.ends_with(w)) { s.remove_suffix(w.size()); again = true; }
    }
  }
  return s;
}

inline std::vector<std::string_view> split(std::string_view s, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at; (at = s.find(separator)) != std::string_view::npos; s.remove_prefix(at + 1)) {
    parts.push_back(s.substr(0, at));
  }
  parts.push_back(s);
  return parts;
}

/// Lines end at LF, which goes with one CR before it; text after the last LF
/// is a last line when not empty.
inline std::vector<std::string_view> lines_of(std::string_view s) {
  std::vector<std::string_view> lines = split(s, '\n');
  if (lines.back().empty()) lines.pop_back();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool had_lf = i + 1 < lines.size() || s.ends_with('\n');
    if (had_lf && lines[i].ends_with('\r')) lines[i].remove_suffix(1);
  }
  return lines;
}

/// Optional '+' (and '-' when `allow_minus`), then digits only, within [min, max].
inline std::optional<long long> integer(std::string_view s, bool allow_minus, long long min, long long max) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || (allow_minus && s[0] == '-'))) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  long double value = 0;  // exact up to 2^64, and only ever compared with 32-bit bounds
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < min || value > max) return std::nullopt;
  return static_cast<long long>(value);
}

inline std::optional<double> number(std::string_view s) {
  if (!number_syntax_oracle(s)) return std::nullopt;
  return std::strtod(std::string(s).c_str(), nullptr);
}

inline std::optional<CivilDate> date_of_year(long long year, long long doy) {
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 0; month < 12; ++month) {
    if (doy >= 1 && doy <= lengths[month]) {
      return CivilDate{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month + 1),
                       static_cast<std::uint8_t>(doy)};
    }
    doy -= lengths[month];
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------

inline Outcome celestrak_csv(std::string_view data) {
  if (!utf8_oracle(data)) return header_error();
  const auto lines = lines_of(data);
  if (lines.empty()) return header_error();
  std::map<std::string_view, std::size_t> columns;  // the last position of each name
  const auto names = split(lines[0], ',');
  for (std::size_t i = 0; i < names.size(); ++i) columns[trim(names[i])] = i;
  const auto find = [&](std::string_view a, std::string_view b = {}) -> std::optional<std::size_t> {
    if (columns.count(a)) return columns[a];
    if (!b.empty() && columns.count(b)) return columns[b];
    return std::nullopt;
  };
  const auto date = find("DATE"), obs = find("F10.7_OBS", "F10.7"), adj = find("F10.7_ADJ", "F10.7A"),
             ap = find("AP_AVG", "AP");
  std::size_t ap8[8], kp8[8];
  bool all = date && obs && adj && ap;
  for (int k = 0; k < 8; ++k) {
    const auto a = find("AP" + std::to_string(k + 1)), p = find("KP" + std::to_string(k + 1));
    all = all && a && p;
    if (a && p) { ap8[k] = *a; kp8[k] = *p; }
  }
  if (!all) return header_error();
  std::array<std::optional<std::size_t>, sunindex::celestrak_extra_names.size()> extra_at;
  for (std::size_t e = 0; e < extra_at.size(); ++e) extra_at[e] = find(sunindex::celestrak_extra_names[e]);

  Outcome out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto line = trim(lines[i]);
    if (line.empty()) continue;
    const auto fields = split(line, ',');
    const auto at = [&](std::size_t p) { return p < fields.size() ? fields[p] : std::string_view{}; };
    const auto value = [&](std::size_t p) -> std::optional<double> {
      const auto t = trim(at(p));
      if (t.empty() || t == "9999.9" || t == "99999" || t == "999.9") return std::nullopt;
      return number(t);
    };
    const auto parts = split(trim(at(*date)), '-');
    std::optional<long long> y, m, d;
    if (parts.size() == 3) {
      y = integer(parts[0], false, 0, INT32_MAX);
      m = integer(parts[1], false, 1, 12);
      d = integer(parts[2], false, 1, 31);
    }
    if (!y || !m || !d) return parse_error(i + 1, "invalid date");
    DailyIndices r;
    r.date = {static_cast<std::int32_t>(*y), static_cast<std::uint8_t>(*m), static_cast<std::uint8_t>(*d)};
    r.set(sunindex::Field::f10_7_obs, value(*obs));
    r.set(sunindex::Field::f10_7_adj, value(*adj));
    r.set(sunindex::Field::ap_daily, value(*ap));
    sunindex::ThreeHourly a{}, p{};
    bool a_ok = true, p_ok = true;
    for (int k = 0; k < 8; ++k) {
      const auto av = value(ap8[k]), pv = value(kp8[k]);
      a_ok = a_ok && av;
      p_ok = p_ok && pv;
      if (av) a[k] = *av;
      if (pv) p[k] = *pv;
    }
    if (a_ok) r.set(sunindex::Series::ap_3hr, a);
    if (p_ok) r.set(sunindex::Series::kp_3hr, p);
    out.records.push_back(r);
    auto& extras = out.csv_extras.emplace_back();
    for (std::size_t e = 0; e < extras.size(); ++e) {
      if (extra_at[e]) extras[e] = value(*extra_at[e]);
    }
  }
  return out;
}

/// The walk of both fixed-column formats: `read` turns one data line into a
/// record or an error message.
template <class ReadLine>
Outcome fixed_columns(std::string_view data, std::size_t min_length, ReadLine read) {
  if (!utf8_oracle(data)) return parse_error(0, "invalid utf-8");
  const auto lines = lines_of(data);
  Outcome out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto line = lines[i];
    if (trim(line).empty() || trim(line)[0] == '#') continue;
    if (line.size() < min_length) return parse_error(i + 1, "line too short");
    const auto field = [&](std::size_t first, std::size_t width) { return trim(line.substr(first, width)); };
    DailyIndices r;
    std::string message = read(field, r);
    if (!message.empty()) return parse_error(i + 1, message);
    out.records.push_back(r);
  }
  return out;
}

template <class Field>
std::string read_date(Field field, std::size_t year_first, std::size_t year_width, std::size_t doy_first,
                      std::size_t doy_width, DailyIndices& r) {
  const auto year = integer(field(year_first, year_width), true, INT32_MIN, INT32_MAX);
  if (!year) return "year";
  const auto doy = integer(field(doy_first, doy_width), false, 0, 65535);
  if (!doy) return "doy";
  const auto date = date_of_year(*year, *doy);
  if (!date) return "invalid day-of-year";
  r.date = *date;
  return {};
}

inline Outcome solfsmy(std::string_view data) {
  return fixed_columns(data, 64, [](auto field, DailyIndices& r) -> std::string {
    if (auto m = read_date(field, 0, 6, 6, 4, r); !m.empty()) return m;
    const std::pair<std::size_t, const char*> columns[5] = {{22, "F10.7"}, {28, "F81c"}, {34, "S10.7"},
                                                            {46, "M10.7"}, {58, "Y10.7"}};
    using sunindex::Field;
    const Field targets[5] = {Field::f10_7_jb, Field::f10_7_jb_81c, Field::s10_7, Field::m10_7, Field::y10_7};
    for (int k = 0; k < 5; ++k) {
      const auto value = number(field(columns[k].first, 6));
      if (!value) return columns[k].second;
      r.set(targets[k], *value);
    }
    return {};
  });
}

/// A SOLFSMY line's S81c, M81c, Y81c (none on a line that ends before it)
/// and whether it gives source flags.
struct SolfsmyExtras {
  std::array<std::optional<double>, 3> centred;
  bool source = false;
};

/// The extras of every data line of a file the reader keeps them of.
inline std::vector<SolfsmyExtras> solfsmy_extras(std::string_view data) {
  std::vector<SolfsmyExtras> out;
  for (const auto line : lines_of(data)) {
    if (trim(line).empty() || trim(line)[0] == '#') continue;
    const auto field = [&](std::size_t first, std::size_t width) { return trim(line.substr(first, width)); };
    auto& extras = out.emplace_back();
    extras.centred[0] = number(field(40, 6));
    extras.centred[1] = number(field(52, 6));
    if (line.size() >= 70) extras.centred[2] = number(field(64, 6));
    extras.source = line.size() > 70 && !field(70, 6).empty();
  }
  return out;
}

inline Outcome dtcfile(std::string_view data) {
  return fixed_columns(data, 109, [](auto field, DailyIndices& r) -> std::string {
    if (auto m = read_date(field, 4, 4, 8, 5, r); !m.empty()) return m;
    long long sum = 0;
    for (std::size_t k = 0; k < 24; ++k) {
      const auto hour = integer(field(13 + 4 * k, 4), true, INT32_MIN, INT32_MAX);
      if (!hour) return "Dtc";
      sum += *hour;
    }
    r.set(sunindex::Field::dtc, static_cast<double>(sum) / 24.0);
    return {};
  });
}

// ---------------------------------------------------------------------------
// SWPC's 45-day forecast, line by line as published, with the calendar of
// <chrono>.

/// A forecast as the model reads it, or the row of its first fault.
struct SwpcOutcome {
  bool ok = false;
  std::uint64_t row = 0;
  std::int64_t issued_us = 0;
  std::chrono::sys_days first_day;
  std::array<double, 45> ap{}, f107{};
  std::uint64_t first_row = 0;
};

/// Whether `s` matches `pattern` byte for byte, where 'D' stands for a
/// digit, 'A' for a capital and 'a' for a small letter.
inline bool matches(std::string_view s, std::string_view pattern) {
  if (s.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i], p = pattern[i];
    const bool ok = p == 'D' ? c >= '0' && c <= '9' : p == 'A' ? c >= 'A' && c <= 'Z' : p == 'a' ? c >= 'a' && c <= 'z' : c == p;
    if (!ok) return false;
  }
  return true;
}

/// The day of a year, a title-case month name and a day of month, if real.
inline std::optional<std::chrono::sys_days> swpc_day(int year, std::string_view month, int day) {
  static constexpr std::string_view names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (unsigned m = 0; m < 12; ++m) {
    if (month != names[m]) continue;
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{m + 1},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || year < 1) return std::nullopt;
    return std::chrono::sys_days{date};
  }
  return std::nullopt;
}

inline int number_at(std::string_view s, std::size_t first, std::size_t width) {
  return std::atoi(std::string(s.substr(first, width)).c_str());
}

inline SwpcOutcome swpc_forecast(std::string_view data) {
  const auto lines = lines_of(data);
  // The first line that is not UTF-8, holds a CR or is a last line without LF.
  std::size_t faulty = lines.size();
  for (std::size_t i = 0; i < lines.size() && faulty == lines.size(); ++i) {
    const bool last_cut = i + 1 == lines.size() && !data.ends_with('\n');
    if (!utf8_oracle(lines[i]) || lines[i].find('\r') != std::string_view::npos || last_cut) faulty = i;
  }
  SwpcOutcome out;
  std::size_t at = 0;  // the next line's index
  const auto fails = [&](std::uint64_t row) { out.row = row; return out; };
  // Line `at`, or none when the read stops there (the row is then set).
  const auto take = [&]() -> std::optional<std::string_view> {
    if (at == lines.size()) { out.row = lines.size(); return std::nullopt; }
    if (at == faulty) { out.row = at + 1; return std::nullopt; }
    return lines[at++];
  };
  auto line = take();
  if (!line) return out;
  if (*line != ":Product: 45 Day AP Forecast  45DF.txt") return fails(at);
  if (!(line = take())) return out;
  if (!matches(*line, ":Issued: DDDD Aaa DD DDDD UTC")) return fails(at);
  const auto issue_day = swpc_day(number_at(*line, 9, 4), line->substr(14, 3), number_at(*line, 18, 2));
  const int hours = number_at(*line, 21, 2), minutes = number_at(*line, 23, 2);
  if (!issue_day || hours > 23 || minutes > 59) return fails(at);
  out.issued_us = (std::int64_t{issue_day->time_since_epoch().count()} * 86400 + hours * 3600 + minutes * 60) * 1000000;
  do {
    if (!(line = take())) return out;
  } while (line->starts_with('#'));
  if (*line != "45-DAY AP FORECAST") return fails(at);
  std::array<std::chrono::sys_days, 45> days;
  for (int block = 0; block < 2; ++block) {
    if (block == 1) {
      if (!(line = take())) return out;
      if (*line != "45-DAY F10.7 CM FLUX FORECAST") return fails(at);
    }
    for (std::size_t k = 0; k < 9; ++k) {
      if (!(line = take())) return out;
      if (block == 0 && k == 0) out.first_row = at;
      if (line->size() != 59) return fails(at);
      for (std::size_t p = 0; p < 5; ++p) {
        const std::string_view pair = line->substr(12 * p, 11);
        if (!matches(pair.substr(0, 8), "DDAaaDD ") || (p < 4 && (*line)[12 * p + 11] != ' ')) return fails(at);
        const auto day = swpc_day(2000 + number_at(pair, 5, 2), pair.substr(2, 3), number_at(pair, 0, 2));
        if (!day) return fails(at);
        const std::size_t i = 5 * k + p;
        if (block == 0) {
          const auto from_issue = (*day - *issue_day).count();
          if ((i > 0 && *day != days[i - 1] + std::chrono::days{1}) || (i == 0 && (from_issue < -45 || from_issue > 45))) {
            return fails(at);
          }
          days[i] = *day;
        } else if (*day != days[i]) {
          return fails(at);
        }
        const auto value = integer(trim(pair.substr(8, 3)), true, 0, block == 0 ? 400 : 999);
        if (!value) return fails(at);
        (block == 0 ? out.ap : out.f107)[i] = static_cast<double>(*value);
      }
    }
  }
  out.first_day = days[0];
  if (!(line = take())) return out;
  if (!line->starts_with("FORECASTER:")) return fails(at);
  for (const std::string_view closing : {"99999", "NNNN"}) {
    if (!(line = take())) return out;
    if (*line != closing) return fails(at);
  }
  if (at != lines.size()) return fails(at + 1);
  out.ok = true;
  return out;
}

// ---------------------------------------------------------------------------

inline bool same_value(const FieldBits& a, const FieldBits& b) {
  if (a.present != b.present || a.bits.size() != b.bits.size()) return false;
  for (std::size_t i = 0; i < a.bits.size(); ++i) {
    double x, y;
    std::memcpy(&x, &a.bits[i], sizeof x);
    std::memcpy(&y, &b.bits[i], sizeof y);
    if (!(std::isnan(x) && std::isnan(y)) && a.bits[i] != b.bits[i]) return false;  // NaN: any sign
  }
  return true;
}

/// The reader's result equals the model's: the same records field by field,
/// or the same error.
template <class Result>
void compare(std::string_view data, Result& result, const Outcome& want) {
  if (result.ok() != want.ok) {
    fail(want.ok ? "reader failed where the model reads the file" : "reader succeeded where the model fails",
         want.ok ? result.error().text() : want.message);
  }
  if (want.ok) {
    const auto& got = result.value();
    require(got.size() == want.records.size(), "record count differs from the model");
    for (std::size_t i = 0; i < got.size(); ++i) {
      require(got[i].date == want.records[i].date, "record date differs from the model");
      for (std::size_t f = 0; f < field_count; ++f) {
        require(same_value(field(got[i], f), field(want.records[i], f)), "record value differs from the model",
                data.substr(0, 200));
      }
    }
    return;
  }
  const DataError& error = result.error();
  require((error.kind() == DataError::Kind::invalid_csv_header) == want.header_error, "error kind differs from the model");
  if (!want.header_error) {
    require(error.row() == want.row && error.message() == want.message, "error differs from the model",
            error.text() + " / model: row " + std::to_string(want.row) + ": " + want.message);
  }
}

/// The extras of a CSV read equal the model's: the same presence bit for
/// each, the same value where present, a NaN where absent.
inline void compare_csv_extras(const std::vector<sunindex::CelestrakRowExtras>& got, const Outcome& want) {
  require(got.size() == want.csv_extras.size(), "extras count differs from the model");
  for (std::size_t i = 0; i < got.size(); ++i) {
    for (std::size_t e = 0; e < want.csv_extras[i].size(); ++e) {
      const auto& expected = want.csv_extras[i][e];
      const double value = got[i].values[e];
      require(got[i].has(static_cast<sunindex::CelestrakExtra>(e)) == expected.has_value(),
              "extra's presence differs from the model");
      const bool same = expected && !std::isnan(*expected) ? std::memcmp(&value, &*expected, sizeof value) == 0
                                                           : std::isnan(value);  // NaN: any sign
      require(same,
              "extra's value differs from the model");
    }
  }
}

/// The extras of a SOLFSMY read equal the model's, presence and values.
inline void compare_solfsmy_extras(const std::vector<sunindex::SolfsmyRowExtras>& got,
                                   const std::vector<SolfsmyExtras>& want) {
  using sunindex::SolfsmyExtra;
  require(got.size() == want.size(), "extras count differs from the model");
  for (std::size_t i = 0; i < got.size(); ++i) {
    const double values[3] = {got[i].s81c, got[i].m81c, got[i].y81c};
    const SolfsmyExtra which[3] = {SolfsmyExtra::s81c, SolfsmyExtra::m81c, SolfsmyExtra::y81c};
    for (std::size_t k = 0; k < 3; ++k) {
      const auto& expected = want[i].centred[k];
      require(got[i].has(which[k]) == expected.has_value(), "extra's presence differs from the model");
      const bool same = expected && !std::isnan(*expected) ? std::memcmp(&values[k], &*expected, sizeof values[k]) == 0
                                                           : std::isnan(values[k]);  // NaN: any sign
      require(same, "extra's value differs from the model");
    }
    require(got[i].has(SolfsmyExtra::source) == want[i].source, "flags' presence differs from the model");
  }
}

}  // namespace fuzz::model
