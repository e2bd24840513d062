#pragma once

// Reference readers of GFZ's Kp and Hpo files, from the formats' rules
// alone: every line checked in file order with strings, strtod and printf,
// no attention to speed, no code shared with the readers but the result
// types. A target compares the reader with its model on every input: the
// same records bit for bit (NaN of any sign), or the same row and message.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks.hpp"
#include "model.hpp"
#include "readers/gfz_hpo.hpp"
#include "readers/gfz_kp.hpp"

namespace fuzz::model {

template <class Record>
struct GfzOutcome {
  bool ok = true;
  std::vector<Record> records;
  std::uint64_t row = 0;
  std::string message;
};

/// A line as the files' rules see it: its text without the line end, and
/// what breaks the rules of a text as a whole, or nullptr.
struct RuledLine {
  std::string_view text;
  const char* fault;
};

inline std::vector<RuledLine> ruled_lines(std::string_view data) {
  std::vector<RuledLine> out;
  std::vector<std::string_view> parts = split(data, '\n');
  if (parts.back().empty()) parts.pop_back();  // the text after the last LF, when there is none
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string_view text = parts[i];
    const bool had_lf = i + 1 < parts.size() || data.ends_with('\n');
    if (had_lf && text.ends_with('\r')) text.remove_suffix(1);
    const char* fault = nullptr;
    if (!utf8_oracle(text)) fault = "invalid utf-8";
    else if (text.find('\r') != std::string_view::npos) fault = "a CR without an LF after it: lines must end with LF or CR LF";
    else if (!had_lf) fault = "the last line has no line end: the file may be cut off";
    out.push_back({text, fault});
  }
  return out;
}

inline std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  // Days since 1932-01-01 counted year by year and month by month.
  const auto leap = [](std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; };
  std::int64_t days = 0;
  for (std::int64_t year = 1932; year < y; ++year) days += leap(year) ? 366 : 365;
  for (std::int64_t year = y; year < 1932; ++year) days -= leap(year) ? 366 : 365;
  const int lengths[12] = {31, leap(y) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (unsigned month = 1; month < m; ++month) days += lengths[month - 1];
  return days + d - 1;
}

/// What every line of both formats goes through: the header, the line's
/// width and its date. `read(line, date, record)` reads the rest.
template <class Record, class ReadLine>
GfzOutcome<Record> gfz_lines(std::string_view data, std::size_t width, ReadLine read) {
  GfzOutcome<Record> out;
  const auto error = [&out](std::size_t i, std::string message) {
    out.ok = false, out.records.clear(), out.row = i + 1, out.message = std::move(message);
    return out;
  };
  bool header = true;
  const auto lines = ruled_lines(data);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = lines[i].text;
    const char* const fault = lines[i].fault;
    if (fault) return error(i, fault);
    if (header && text.starts_with('#')) continue;
    header = false;
    if (text.starts_with('#')) return error(i, "a '#' line after the data began");
    if (text.size() != width) {
      return error(i, "line length " + std::to_string(text.size()) + ", expected " + std::to_string(width));
    }
    const auto year = integer(trim(text.substr(0, 4)), true, INT32_MIN, INT32_MAX);
    if (!year) return error(i, "year");
    const auto month = integer(trim(text.substr(4, 3)), true, INT32_MIN, INT32_MAX);
    if (!month) return error(i, "month");
    const auto day = integer(trim(text.substr(7, 3)), true, INT32_MIN, INT32_MAX);
    if (!day) return error(i, "day");
    if (*year < 1 || *year > 9999) return error(i, "year outside 1-9999");
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*month < 1 || *month > 12 || *day < 1 || *day > lengths[*month - 1]) return error(i, "invalid date");
    Record record{};
    record.date = {static_cast<std::int32_t>(*year), static_cast<std::uint8_t>(*month), static_cast<std::uint8_t>(*day)};
    record.row = i + 1;
    const auto field = [text](std::size_t first, std::size_t w) { return trim(text.substr(first, w)); };
    const std::string problem = read(field, days_from_civil(*year, *month, *day), out.records, record);
    if (!problem.empty()) return error(i, problem);
    out.records.push_back(record);
  }
  return out;
}

/// -1 however written is missing; a quiet NaN then.
inline double nan_if_marker(double value) { return value == -1.0 ? std::nan("") : value; }

/// Whether `value` is printf's three decimals of a whole number of thirds.
inline bool written_in_thirds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::round(value * 3) / 3);
  return std::strtod(text, nullptr) == value;
}

/// A decimal column from 0 to `max`, the marker, or its fault's message.
template <class Field>
std::string amount(Field field, std::size_t first, std::size_t width, const char* label, double max, bool thirds,
                   double& out) {
  const auto value = number(field(first, width));
  if (!value) return label;
  if (*value == -1.0) {
    out = std::nan("");
    return {};
  }
  if (!(*value >= 0 && *value <= max) || std::signbit(*value)) return std::string(label) + " out of range";
  if (thirds && !written_in_thirds(*value)) return std::string(label) + " not in thirds";
  out = *value;
  return {};
}

/// An integer column from 0 to `max`, the marker, or its fault's message.
template <class Field>
std::string count(Field field, std::size_t first, std::size_t width, const char* label, long long max, double& out) {
  const auto value = integer(field(first, width), true, INT32_MIN, INT32_MAX);
  if (!value) return label;
  if (*value != -1 && (*value < 0 || *value > max)) return std::string(label) + " out of range";
  out = nan_if_marker(static_cast<double>(*value));
  return {};
}

inline GfzOutcome<sunindex::GfzDay> gfz_kp(std::string_view data) {
  return gfz_lines<sunindex::GfzDay>(data, 158, [](auto field, std::int64_t days, const auto& before,
                                                   sunindex::GfzDay& r) -> std::string {
    if (!before.empty() && !(before.back().date < r.date)) return "date not after the line before";
    const auto days_field = integer(field(10, 6), true, INT32_MIN, INT32_MAX);
    if (!days_field) return "days";
    if (*days_field != days) return "days not the date's count since 1932";
    const auto mid_day = number(field(16, 8));
    if (!mid_day) return "days_m";
    if (*mid_day != days + 0.5) return "days_m not days + 0.5";
    // Bartels rotation 1 began on 1832-02-08, 36,486 days before 1932-01-01.
    const std::int64_t since = days + 36486;
    const std::int64_t rotation = static_cast<std::int64_t>(std::floor(since / 27.0));
    const auto bsr = integer(field(24, 5), true, INT32_MIN, INT32_MAX);
    if (!bsr) return "Bsr";
    if (*bsr != rotation + 1) return "Bsr not the date's Bartels rotation";
    const auto db = integer(field(29, 3), true, INT32_MIN, INT32_MAX);
    if (!db) return "dB";
    if (*db != since - 27 * rotation + 1) return "dB not the date's day in its Bartels rotation";
    for (std::size_t k = 0; k < 8; ++k) {
      const std::string label = "Kp" + std::to_string(k + 1);
      if (auto m = amount(field, 32 + 7 * k, 7, label.c_str(), 9, true, r.kp[k]); !m.empty()) return m;
    }
    for (std::size_t k = 0; k < 8; ++k) {
      const std::string label = "ap" + std::to_string(k + 1);
      if (auto m = count(field, 88 + 5 * k, 5, label.c_str(), 400, r.ap[k]); !m.empty()) return m;
    }
    if (auto m = count(field, 128, 6, "Ap", 400, r.ap_daily); !m.empty()) return m;
    if (auto m = count(field, 134, 4, "SN", 9999, r.sn); !m.empty()) return m;
    if (auto m = amount(field, 138, 9, "F10.7obs", 999999.9, false, r.f107_obs); !m.empty()) return m;
    if (auto m = amount(field, 147, 9, "F10.7adj", 999999.9, false, r.f107_adj); !m.empty()) return m;
    const auto d = integer(field(156, 2), true, INT32_MIN, INT32_MAX);
    if (!d) return "D";
    if (*d < 0 || *d > 2) return "D not 0, 1 or 2";
    r.definitive = static_cast<std::uint8_t>(*d);
    return {};
  });
}

inline GfzOutcome<sunindex::HpoInterval> gfz_hpo(std::string_view data, sunindex::HpoCadence cadence) {
  const int per_day = cadence == sunindex::HpoCadence::minutes30 ? 48 : 24;
  const std::string hp = per_day == 48 ? "Hp30" : "Hp60", ap = per_day == 48 ? "ap30" : "ap60";
  return gfz_lines<sunindex::HpoInterval>(data, 59, [&](auto field, std::int64_t days, const auto& before,
                                                        sunindex::HpoInterval& r) -> std::string {
    const double hours = 24.0 / per_day;
    const auto start = number(field(10, 5));
    if (!start) return "hh.h";
    const double slot = *start / hours;
    if (!(slot >= 0 && slot < per_day) || slot != std::floor(slot)) {
      return per_day == 48 ? "hh.h not on the 30-minute grid" : "hh.h not on the hourly grid";
    }
    r.slot = static_cast<std::uint8_t>(slot);
    const auto middle = number(field(15, 6));
    if (!middle) return "hh._m";
    if (*middle != *start + hours / 2) {
      return per_day == 48 ? "hh._m not the middle of a 30-minute interval" : "hh._m not the middle of a 60-minute interval";
    }
    const auto written_days = [&](double fraction) {
      char text[48];
      std::snprintf(text, sizeof text, "%.5f", static_cast<double>(days) + fraction);
      return std::strtod(text, nullptr);
    };
    const auto start_days = number(field(21, 12));
    if (!start_days) return "days";
    if (*start_days != written_days(slot / per_day)) return "days not the start's count since 1932";
    const auto middle_days = number(field(33, 12));
    if (!middle_days) return "days_m";
    if (*middle_days != written_days((slot + 0.5) / per_day)) return "days_m not the middle's count since 1932";
    if (!before.empty() && (before.back().date > r.date || (before.back().date == r.date && before.back().slot >= r.slot))) {
      return "interval not after the line before";
    }
    if (auto m = amount(field, 45, 7, hp.c_str(), 99.999, true, r.hp); !m.empty()) return m;
    if (auto m = count(field, 52, 5, ap.c_str(), 9999, r.ap); !m.empty()) return m;
    const auto d = integer(field(57, 2), true, INT32_MIN, INT32_MAX);
    if (!d) return "D";
    if (*d != 0) return "D not 0";
    return {};
  });
}

}  // namespace fuzz::model
