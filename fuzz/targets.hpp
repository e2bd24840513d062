#pragma once

// What each fuzz target checks on one input: its reader's result against
// the common properties and the reference reader, every scan path and the
// read cut in two against the default read, and the number and word
// readers on the input's pieces. The libFuzzer entries (fuzz_*.cpp) and the
// replay driver the test suite runs (replay.cpp) both call these, so the
// suite checks exactly what the fuzzers do.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "gfz_model.hpp"
#include "model.hpp"
#include "readers/celestrak_csv.hpp"
#include "readers/dtcfile.hpp"
#include "readers/gfz_hpo.hpp"
#include "readers/gfz_kp.hpp"
#include "readers/legacy_text.hpp"
#include "readers/msfc_prediction.hpp"
#include "readers/solfsmy.hpp"
#include "readers/swpc_forecast.hpp"
#include "readers/word_bytes.hpp"

namespace fuzz {

/// The word helpers flag exactly the bytes a plain loop finds, byte i of a
/// word being the input's byte i (so the first flagged is the first in the
/// text), and find_byte stops where std::find does, from every start.
inline void check_word_bytes(std::string_view data) {
  namespace words = sunindex::word_bytes;
  constexpr unsigned char probes[] = {',', ' ', '-', '.', '\n'};
  const std::size_t starts = std::min<std::size_t>(data.size(), 512);
  for (std::size_t start = 0; start < starts; ++start) {
    const char* const p = data.data() + start;
    const char* const end = data.data() + data.size();
    for (const unsigned char c : probes) {
      require(words::find_byte(p, end, c) == std::find(p, end, static_cast<char>(c)), "find_byte misses a byte");
    }
    if (end - p < 8) continue;
    const std::uint64_t word = words::load_word(p);
    for (int i = 0; i < 8; ++i) {
      const auto byte = static_cast<unsigned char>(p[i]);
      const std::uint64_t bit = std::uint64_t{0x80} << (8 * i);
      require(((word >> (8 * i)) & 0xFF) == byte, "load_word puts a byte out of its text order");
      require(((words::bytes_equal_to(word, ',') & bit) != 0) == (byte == ','), "bytes_equal_to flags a wrong byte");
      require(((words::digit_bytes(word) & bit) != 0) == (byte >= '0' && byte <= '9'), "digit_bytes flags a wrong byte");
    }
  }
}

/// Two strict reads of complementary choices of values, the choice taken
/// from the input's length, succeed or fail together as the read of all
/// does, and give between them each of its values: the chosen read has
/// it, the other has it absent.
inline void check_csv_value_choices(std::string_view data) {
  using sunindex::CelestrakRowExtras;
  const std::size_t bits = data.size() * 0x9E3779B97F4A7C15u >> 40;
  const auto chosen = [bits](int bit) { return ((bits >> bit) & 1) != 0; };
  const sunindex::CelestrakValues choice{chosen(0), chosen(1), chosen(2), chosen(3), chosen(4), chosen(5),
                                         static_cast<CelestrakRowExtras::Bits>(bits >> 6 & 0x3FF)};
  const sunindex::ReadOptions strict{.strict_structure = true};
  std::vector<CelestrakRowExtras> all_extras, extras[2];
  auto all = sunindex::parse_celestrak_csv(data, all_extras, strict);
  auto part = sunindex::parse_celestrak_csv(data, extras[0], strict, choice);
  auto rest = sunindex::parse_celestrak_csv(data, extras[1], strict, choice.complement());
  require(part.ok() == all.ok() && rest.ok() == all.ok(), "a choice of values changes whether a read succeeds");
  if (!all.ok()) {
    require(part.error().text() == all.error().text() && rest.error().text() == all.error().text(),
            "a choice of values changes the error");
    return;
  }
  // The CSV's fields: observed and adjusted F10.7, daily Ap, 3-hourly ap and Kp.
  const std::array<std::pair<std::size_t, bool>, 5> fields{
      {{0, choice.f10_7_obs}, {1, choice.f10_7_adj}, {4, choice.ap_daily}, {5, choice.ap_3hr}, {6, choice.kp_3hr}}};
  const FieldBits absent{false, {}};
  for (std::size_t r = 0; r < all.value().size(); ++r) {
    for (const auto& [i, in_part] : fields) {
      const auto& [has, lacks] = in_part ? std::pair(&part.value()[r], &rest.value()[r])
                                         : std::pair(&rest.value()[r], &part.value()[r]);
      require(field(*has, i) == field(all.value()[r], i) && field(*lacks, i) == absent,
              "a choice of values reads another value");
    }
    const CelestrakRowExtras& whole = all_extras[r];
    const auto got = [&](const CelestrakRowExtras& e, CelestrakRowExtras::Bits mask) {
      return (e.present & ~mask) == 0 && (e.present & mask) == (whole.present & mask);
    };
    const auto mask = choice.extras, other_mask = choice.complement().extras;
    require(got(extras[0][r], mask) && got(extras[1][r], other_mask), "a choice of values reads other extras");
    for (std::size_t e = 0; e < whole.values.size(); ++e) {
      const auto& holder = (mask >> e & 1) ? extras[0][r] : extras[1][r];
      require(same_bits(holder.values[e], whole.values[e]), "a choice of values reads another extra");
    }
    const auto& typed = choice.data_type ? extras[0][r] : extras[1][r];
    require(typed.data_type == whole.data_type, "a choice of values reads another data type");
  }
}

inline void check_celestrak_csv(std::string_view data) {
  check_word_bytes(data);
  auto result = sunindex::parse_celestrak_csv(data);
  // Fields 0, 1, 4, 5, 6: observed and adjusted F10.7, daily Ap, 3-hourly ap and Kp.
  check_result(data, result, /*csv=*/true, {"invalid date"}, 0, {{}, {0, 1, 4, 5, 6}});
  const model::Outcome want = model::celestrak_csv(data);
  model::compare(data, result, want);
  std::vector<sunindex::CelestrakRowExtras> extras;
  if (sunindex::parse_celestrak_csv(data, extras).ok() && want.ok) model::compare_csv_extras(extras, want);
  check_paths_agree<sunindex::CelestrakRowExtras>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_celestrak_csv(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_celestrak_csv(d, extras, o); },
      [](const auto& a, const auto& b) {
    return std::memcmp(a.values.data(), b.values.data(), sizeof a.values) == 0 && a.present == b.present &&
           a.data_type == b.data_type && a.row == b.row;
  });
  check_csv_value_choices(data);
  check_numbers_in(data);
  check_word_readers(data);
}

inline void check_solfsmy(std::string_view data) {
  auto result = sunindex::parse_solfsmy(data);
  // Fields 2, 3, 7, 8, 9: F10.7 and F81c of JB2008, S10.7, M10.7, Y10.7.
  check_result(data, result, /*csv=*/false,
               {"invalid utf-8", "line too short", "year", "doy", "invalid day-of-year", "F10.7", "F81c", "S10.7",
                "M10.7", "Y10.7"},
               64, {{2, 3, 7, 8, 9}, {}});
  model::compare(data, result, model::solfsmy(data));
  std::vector<sunindex::SolfsmyRowExtras> extras;
  if (sunindex::parse_solfsmy(data, extras).ok()) model::compare_solfsmy_extras(extras, model::solfsmy_extras(data));
  check_paths_agree<sunindex::SolfsmyRowExtras>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_solfsmy(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_solfsmy(d, extras, o); },
      [](const auto& a, const auto& b) {
    const double x[3] = {a.s81c, a.m81c, a.y81c}, y[3] = {b.s81c, b.m81c, b.y81c};
    return std::memcmp(x, y, sizeof x) == 0 && a.source == b.source && a.present == b.present;
  });
  check_numbers_in(data);
  check_word_readers(data);
}

inline void check_dtcfile(std::string_view data) {
  auto result = sunindex::parse_dtcfile(data);
  // Field 10: dtc, the mean of 24 integers of four characters, so 24 * dtc is
  // an integer within 24 * [-999, 9999].
  check_result(data, result, /*csv=*/false,
               {"invalid utf-8", "line too short", "year", "doy", "invalid day-of-year", "Dtc"}, 109, {{10}, {}});
  if (result.ok()) {
    for (const auto& record : result.value()) {
      const double sum = *record.get(sunindex::Field::dtc) * 24.0;
      require(std::nearbyint(sum) == sum && sum >= -24.0 * 999 && sum <= 24.0 * 9999, "dtc not a mean of 24 hours");
    }
  }
  model::compare(data, result, model::dtcfile(data));
  check_paths_agree<sunindex::HourlyDtc>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_dtcfile(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_dtcfile(d, extras, o); },
      [](const auto& a, const auto& b) { return std::memcmp(a.data(), b.data(), sizeof a) == 0; });
  check_numbers_in(data);
  check_word_readers(data);
}

inline void check_msfc_prediction(std::string_view data) {
  auto result = sunindex::parse_msfc_prediction(data);
  if (!result.ok()) {
    require(!result.error().message().empty(), "an error without a message");
    if (result.error().message() == "invalid utf-8") {
      require(!utf8_oracle(line_at(data, result.error().row())), "invalid utf-8 reported for a valid line");
    }
    return;
  }
  require(utf8_oracle(data), "invalid UTF-8 accepted");
  const auto& months = result.value();
  require(!months.empty(), "success without a month");
  for (std::size_t i = 0; i < months.size(); ++i) {
    const auto& month = months[i];
    require(month.month >= 1 && month.month <= 12, "month out of range");
    for (const double value : month.f107) require(std::isfinite(value) && value >= 0.0, "bad F10.7 accepted");
    for (const double value : month.ap) require(std::isfinite(value) && value >= 0.0, "bad Ap accepted");
    if (i > 0) {
      const auto& before = months[i - 1];
      require(month.row > before.row, "rows out of order");
      require(month.year * 12 + month.month == before.year * 12 + before.month + 1, "months not consecutive");
    }
  }
  check_numbers_in(data);
}

/// Whether the SWPC reader can give `message`: one of its whole messages, or
/// one that begins as its composed ones do.
inline bool known_swpc_message(const std::string& message) {
  for (const char* whole : {"invalid utf-8", "a CR without an LF after it: lines must end with LF or CR LF",
                            "the last line has no line end: the file may be cut off",
                            "not an ':Issued: YYYY Mon DD HHMM UTC' line",
                            "issue date not a calendar day in years 1-9999", "issue time not HHMM from 0000 to 2359",
                            "text after NNNN, the forecast's last line"}) {
    if (message == whole) return true;
  }
  for (const char* start : {"the file ends before ", "expected '", "line length ", "pair "}) {
    if (message.starts_with(start)) return true;
  }
  return false;
}

/// What a read of the forecast gave, on one line: "error at row N: message",
/// or "issued_us first_day first_row" and the 45 Ap then the 45 F10.7 values.
inline std::string describe_swpc_forecast(std::string_view data) {
  auto result = sunindex::parse_swpc_forecast(data);
  if (!result.ok()) return "error at row " + std::to_string(result.error().row()) + ": " + result.error().message();
  const sunindex::SwpcForecast& forecast = result.value();
  char day[16];
  std::snprintf(day, sizeof day, "%04d-%02d-%02d", forecast.first_day.year, forecast.first_day.month,
                forecast.first_day.day);
  std::string out = std::to_string(forecast.issued_us) + " " + day + " " + std::to_string(forecast.first_row);
  for (const auto* values : {&forecast.ap, &forecast.f107}) {
    for (const double value : *values) out += " " + std::to_string(static_cast<long long>(value));
  }
  return out;
}

/// Whether two reads of the forecast give the same forecast bit for bit, or the same error.
inline bool same_forecast(sunindex::Result<sunindex::SwpcForecast>& a, sunindex::Result<sunindex::SwpcForecast>& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error().text() == b.error().text();
  const auto &x = a.value(), &y = b.value();
  return x.issued_us == y.issued_us && x.first_day == y.first_day && x.first_row == y.first_row &&
         std::memcmp(x.ap.data(), y.ap.data(), sizeof x.ap) == 0 &&
         std::memcmp(x.f107.data(), y.f107.data(), sizeof x.f107) == 0;
}

inline void check_swpc_forecast(std::string_view data) {
  auto result = sunindex::parse_swpc_forecast(data);
  const model::SwpcOutcome want = model::swpc_forecast(data);
  const std::uint64_t lines = count_lines(data);
  if (result.ok() != want.ok) {
    fail(want.ok ? "reader failed where the model reads the file" : "reader succeeded where the model fails",
         want.ok ? result.error().text() : "model: row " + std::to_string(want.row));
  }
  if (!result.ok()) {
    const DataError& error = result.error();
    const std::string text = error.text();
    require(error.kind() == DataError::Kind::parse, "unknown error kind", text);
    require(error.row() == want.row, "error row differs from the model", text + " / model: row " + std::to_string(want.row));
    // Every error names a line of the file; only an empty file has none.
    require(error.row() <= lines && (error.row() == 0) == (lines == 0), "error row outside the file's lines", text);
    require(known_swpc_message(error.message()), "unexpected error message", text);
    if (error.message() == "invalid utf-8") require(!utf8_oracle(line_at(data, error.row())), "invalid utf-8 reported for a valid line", text);
  } else {
    const sunindex::SwpcForecast& forecast = result.value();
    require(utf8_oracle(data), "a forecast from invalid UTF-8");
    require(forecast.issued_us == want.issued_us, "issue instant differs from the model");
    require(forecast.first_day.to_days() == want.first_day.time_since_epoch().count(), "first day differs from the model");
    require(forecast.first_row == want.first_row, "first row differs from the model");
    for (std::size_t i = 0; i < sunindex::SwpcForecast::days; ++i) {
      require(same_bits(forecast.ap[i], want.ap[i]) && same_bits(forecast.f107[i], want.f107[i]),
              "a value differs from the model");
      // Values the format allows, whatever the model says: integers, Ap 0-400, F10.7 0-999.
      require(std::nearbyint(forecast.ap[i]) == forecast.ap[i] && forecast.ap[i] >= 0 && forecast.ap[i] <= 400,
              "Ap outside the format's range");
      require(std::nearbyint(forecast.f107[i]) == forecast.f107[i] && forecast.f107[i] >= 0 && forecast.f107[i] <= 999,
              "F10.7 outside the format's range");
    }
    // After the first Ap line: 8 more, the F10.7 heading and 9 lines, then FORECASTER:, 99999 and NNNN.
    require(forecast.first_row >= 2 && forecast.first_row + 21 == lines, "the layout's lines miscounted");
    require(line_at(data, forecast.first_row - 1) == "45-DAY AP FORECAST", "first row not after the Ap heading");
  }
  // CR LF line ends read as LF ones do: the same forecast, or the same error at the same line.
  if (data.find('\r') == std::string_view::npos) {
    std::string crlf;
    for (const char c : data) c == '\n' ? crlf += "\r\n" : crlf += c;
    auto again = sunindex::parse_swpc_forecast(crlf);
    require(same_forecast(result, again), "CR LF line ends read otherwise than LF");
  }
  check_numbers_in(data);
}

// ---------------------------------------------------------------------------
// The legacy text file

/// Two legacy text reads hold the same rows bit for bit and the same stamp,
/// or the same error.
inline bool same_legacy_text(sunindex::Result<sunindex::LegacyText>& a, sunindex::Result<sunindex::LegacyText>& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error().text() == b.error().text();
  const auto& x = a.value();
  const auto& y = b.value();
  const auto same_extras = [](const sunindex::CelestrakRowExtras& e, const sunindex::CelestrakRowExtras& f) {
    return std::memcmp(e.values.data(), f.values.data(), sizeof e.values) == 0 && e.present == f.present &&
           e.data_type == f.data_type && e.row == f.row;
  };
  return x.updated_us == y.updated_us && same_records(x.records, y.records) &&
         std::equal(x.extras.begin(), x.extras.end(), y.extras.begin(), y.extras.end(), same_extras);
}

/// The legacy text format's data line, written out from its FORMAT
/// statement: each field's first byte, width, and whether it is an integer.
struct LegacyField {
  std::size_t first, width;
  bool integer;
};
inline constexpr LegacyField legacy_kp(std::size_t slot) { return {18 + 3 * slot, 3, true}; }
inline constexpr LegacyField legacy_ap(std::size_t slot) { return {46 + 4 * slot, 4, true}; }
inline constexpr LegacyField legacy_q{98, 2, true};
/// The CelestrakExtra columns in their order: BSRN, ND, KP_SUM, CP, C9, ISN,
/// obs Ctr81, obs Lst81, adj Ctr81, adj Lst81.
inline constexpr std::array<LegacyField, 10> legacy_extras{{{10, 5, true},
                                                            {15, 3, true},
                                                            {42, 4, true},
                                                            {82, 4, false},
                                                            {86, 2, true},
                                                            {88, 4, true},
                                                            {118, 6, false},
                                                            {124, 6, false},
                                                            {100, 6, false},
                                                            {106, 6, false}}};

/// A field as plainly read: absent when blank, else strtod's value of the
/// whole trimmed text (an integer field's value compares by ==, so that
/// "-0" and "0" agree).
inline std::optional<double> plain_field(std::string_view line, const LegacyField& field) {
  const std::string_view trimmed = sunindex::text::trim(line.substr(field.first, field.width));
  if (trimmed.empty()) return std::nullopt;
  const std::string terminated(trimmed);
  char* end = nullptr;
  const double value = std::strtod(terminated.c_str(), &end);
  require(end == terminated.c_str() + terminated.size(), "a field read that strtod does not read whole", trimmed);
  if (field.integer) require(value == std::nearbyint(value), "an integer field read with a fraction", trimmed);
  return value;
}

inline bool same_value(const std::optional<double>& got, const std::optional<double>& want, bool integer) {
  if (got.has_value() != want.has_value()) return false;
  if (!got) return true;
  if (std::isnan(*got) || std::isnan(*want)) return std::isnan(*got) && std::isnan(*want);
  return integer ? *got == *want : same_bits(*got, *want);
}

/// The lines of `data` by 1-based number (line_at of each; [0] is empty).
inline std::vector<std::string_view> numbered_lines(std::string_view data) {
  std::vector<std::string_view> lines{{}};
  while (!data.empty()) {
    const std::size_t lf = std::min(data.find('\n'), data.size());
    std::string_view line = data.substr(0, lf);
    if (lf != data.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    data.remove_prefix(std::min(lf + 1, data.size()));
  }
  return lines;
}

/// The section each of `lines` lies in: the index of its name among the
/// four, between "BEGIN NAME" and "END NAME" (a word, white space, the
/// name); -1 elsewhere.
inline std::vector<int> legacy_sections_of(const std::vector<std::string_view>& lines) {
  constexpr std::array<std::string_view, 4> names{"OBSERVED", "DAILY_PREDICTED", "MONTHLY_PREDICTED", "MONTHLY_FIT"};
  const auto is = [](std::string_view line, std::string_view word, std::string_view name) {
    line = sunindex::text::trim(line);
    const std::size_t space = line.find(' ');
    return space != std::string_view::npos && line.substr(0, space) == word &&
           sunindex::text::trim(line.substr(space)) == name;
  };
  std::vector<int> sections;
  int open = -1;
  for (const std::string_view line : lines) {
    for (int s = 0; s < 4; ++s) {
      if (is(line, "END", names[s])) open = -1;
    }
    sections.push_back(open);
    for (int s = 0; s < 4; ++s) {
      if (is(line, "BEGIN", names[s])) open = s;
    }
  }
  return sections;
}

/// Every row of a read that succeeded, read again plainly from its line:
/// the line is 130 bytes inside a section, rows rise, the values are
/// strtod's (a series only when all eight fields are given), the type is
/// the section's (Q's in OBSERVED, the daily prediction's days in
/// MONTHLY_FIT), and dates rise except where MONTHLY_FIT starts again.
inline void check_legacy_rows(std::string_view data, const sunindex::LegacyText& text) {
  using sunindex::F107DataType;
  require(text.records.size() == text.extras.size(), "records and extras differ in number");
  const std::vector<std::string_view> lines = numbered_lines(data);
  const std::vector<int> sections = legacy_sections_of(lines);
  std::size_t in_sections = 0;
  for (const int s : sections) in_sections += s >= 0;
  require(text.records.size() == in_sections, "records differ from the lines inside the sections");
  std::set<sunindex::CivilDate> daily_days;
  std::size_t date_drops = 0;
  for (std::size_t r = 0; r < text.records.size(); ++r) {
    const auto& record = text.records[r];
    const auto& extras = text.extras[r];
    require(extras.row >= 1 && extras.row < sections.size(), "a row beyond the text");
    require(r == 0 || extras.row > text.extras[r - 1].row, "rows not rising");
    const std::string_view line = lines[extras.row];
    require(line.size() == 130 && sections[extras.row] >= 0, "a record from a line that is no data line", line);
    require(record.date == sunindex::CivilDate{static_cast<std::int32_t>(*plain_field(line, {0, 4, true})),
                                               static_cast<std::uint8_t>(*plain_field(line, {4, 3, true})),
                                               static_cast<std::uint8_t>(*plain_field(line, {7, 3, true}))} &&
                record.date.is_calendar_day() && record.date.year >= 1 && record.date.year <= 9999,
            "a date other than the line's", line);
    if (r > 0 && !(text.records[r - 1].date < record.date)) ++date_drops;
    const auto series = [&](const sunindex::ThreeHourly* got, LegacyField (*field)(std::size_t)) {
      std::array<std::optional<double>, 8> want;
      bool whole = true;
      for (std::size_t slot = 0; slot < 8; ++slot) whole = (want[slot] = plain_field(line, field(slot))) && whole;
      if (!whole) return got == nullptr;
      if (got == nullptr) return false;
      for (std::size_t slot = 0; slot < 8; ++slot) {
        if (!same_value((*got)[slot], want[slot], true)) return false;
      }
      return true;
    };
    require(series(record.get(sunindex::Series::kp_3hr), legacy_kp), "Kp other than the line's", line);
    require(series(record.get(sunindex::Series::ap_3hr), legacy_ap), "ap other than the line's", line);
    require(same_value(record.get(sunindex::Field::ap_daily), plain_field(line, {78, 4, true}), true) &&
                same_value(record.get(sunindex::Field::f10_7_adj), plain_field(line, {92, 6, false}), false) &&
                same_value(record.get(sunindex::Field::f10_7_obs), plain_field(line, {112, 6, false}), false),
            "a daily value other than the line's", line);
    for (std::size_t e = 0; e < legacy_extras.size(); ++e) {
      const auto got = extras.has(static_cast<sunindex::CelestrakExtra>(e)) ? std::optional(extras.values[e])
                                                                            : std::nullopt;
      require(same_value(got, plain_field(line, legacy_extras[e]), legacy_extras[e].integer) &&
                  (got || std::isnan(extras.values[e])),
              "an extra other than the line's", line);
    }
    require(record.get(sunindex::Field::f10_7_jb) == std::nullopt && record.get(sunindex::Field::dtc) == std::nullopt,
            "a value the file does not have");
    const auto q = plain_field(line, legacy_q);
    F107DataType want = F107DataType::unknown;
    switch (sections[extras.row]) {
      case 0:
        require(q && *q >= 0 && *q <= 5, "an observed row without Q 0-5", line);
        want = *q == 0 ? F107DataType::observed : F107DataType::interpolated;
        break;
      case 1: want = F107DataType::predicted_daily, daily_days.insert(record.date); break;
      case 2: want = F107DataType::predicted_monthly; break;
      default:
        want = daily_days.count(record.date) ? F107DataType::predicted_daily : F107DataType::predicted_monthly;
    }
    require(!q || (*q >= 0 && *q <= 5), "a Q outside 0-5", line);
    require(extras.data_type == want, "a data type other than the section's", line);
  }
  require(date_drops <= 1, "dates that fall more than once");
}

/// The legacy text reader: the same result read by one thread or two, and
/// strictly or not (it is always strict); a success read again plainly line
/// by line; an error at a line of the text.
inline void check_legacy_text(std::string_view data) {
  using sunindex::ReadOptions;
  auto result = sunindex::parse_legacy_text(data);
  for (const ReadOptions options : {ReadOptions{.parallel_from_bytes = SIZE_MAX}, ReadOptions{.parallel_from_bytes = 0},
                                    ReadOptions{.parallel_from_bytes = 0, .strict_structure = true}}) {
    auto other = sunindex::parse_legacy_text(data, options);
    require(same_legacy_text(result, other), "one thread, two threads or a strict read give another result");
  }
  const std::uint64_t lines = count_lines(data);
  if (result.ok()) {
    require(utf8_oracle(data), "rows from invalid UTF-8");
    check_legacy_rows(data, result.value());
    check_store(result.value().records, data.size());
  } else {
    const DataError& error = result.error();
    require(error.kind() == DataError::Kind::parse && !error.message().empty(), "an error without a message");
    require(error.row() <= lines && (error.row() >= 1 || data.empty()), "an error beyond the text's lines",
            error.text());
    if (error.message() == "invalid utf-8") require(!utf8_oracle(line_at(data, error.row())), "valid UTF-8 refused");
  }
  check_numbers_in(data);
  check_word_readers(data);
}

// ---------------------------------------------------------------------------
// GFZ's Kp and Hpo files

/// Both doubles hold the same bits, or both are NaN (of any sign: the model's
/// NaN need not be the reader's).
inline bool same_or_nan(double a, double b) { return same_bits(a, b) || (std::isnan(a) && std::isnan(b)); }

inline bool same_gfz_day(const sunindex::GfzDay& a, const sunindex::GfzDay& b) {
  const auto same_all = [](const sunindex::ThreeHourly& x, const sunindex::ThreeHourly& y) {
    return std::equal(x.begin(), x.end(), y.begin(), same_or_nan);
  };
  return a.date == b.date && a.row == b.row && a.definitive == b.definitive && same_all(a.kp, b.kp) &&
         same_all(a.ap, b.ap) && same_or_nan(a.ap_daily, b.ap_daily) && same_or_nan(a.sn, b.sn) &&
         same_or_nan(a.f107_obs, b.f107_obs) && same_or_nan(a.f107_adj, b.f107_adj);
}

inline bool same_hpo_interval(const sunindex::HpoInterval& a, const sunindex::HpoInterval& b) {
  return a.date == b.date && a.slot == b.slot && a.row == b.row && same_or_nan(a.hp, b.hp) && same_or_nan(a.ap, b.ap);
}

/// The records of both results are the same, by `same`, or their errors are.
template <class Result, class Same>
bool same_gfz_result(Result& a, Result& b, Same same) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error().text() == b.error().text();
  return std::equal(a.value().begin(), a.value().end(), b.value().begin(), b.value().end(), same);
}

/// What holds of any error of the GFZ readers: a row from 1 to the number of
/// lines, the usual text, and for the line faults the faulty line itself.
inline void check_gfz_error(std::string_view data, const DataError& error, std::size_t line_length) {
  const std::string text = error.text();
  require(error.kind() == DataError::Kind::parse && !error.message().empty(), "an error without a row and message", text);
  require(error.row() >= 1 && error.row() <= count_lines(data), "error row outside the text's lines", text);
  require(text == "parse error at row " + std::to_string(error.row()) + ": " + error.message(), "error text", text);
  const std::string_view line = line_at(data, error.row());
  if (error.message() == "invalid utf-8") require(!utf8_oracle(line), "invalid utf-8 reported for a valid line", text);
  if (error.message().starts_with("line length ")) {
    require(error.message() == "line length " + std::to_string(line.size()) + ", expected " + std::to_string(line_length) &&
                line.size() != line_length,
            "line length reported for a line of the published length", text);
  }
}

/// What holds of any success: valid UTF-8, no more records than lines, rows
/// strictly increasing within the text, and `in_order` between neighbours.
template <class Record, class InOrder>
void check_gfz_records(std::string_view data, const std::vector<Record>& records, InOrder in_order) {
  require(utf8_oracle(data), "records from invalid UTF-8");
  const std::uint64_t lines = count_lines(data);
  require(records.size() <= lines, "more records than lines");
  for (std::size_t i = 0; i < records.size(); ++i) {
    require(records[i].row >= 1 && records[i].row <= lines, "a record's row outside the text");
    if (i == 0) continue;
    require(records[i - 1].row < records[i].row, "rows not increasing");
    require(in_order(records[i - 1], records[i]), "records not strictly increasing");
  }
}

/// NaN, or a value from 0 to `max`, whole when `whole`, in thirds when `thirds`.
inline bool gfz_value(double value, double max, bool whole, bool thirds) {
  if (std::isnan(value)) return true;
  return value >= 0 && value <= max && (!whole || value == std::floor(value)) &&
         (!thirds || model::written_in_thirds(value));
}

/// Every scan path, read whole and cut in two at a line end, gives the default read's result.
template <class Result, class Read, class Same>
void check_gfz_paths(std::string_view data, Result& result, Read read, Same same) {
  for (const sunindex::ScanPath path : {sunindex::ScanPath::portable, sunindex::ScanPath::sse2}) {
    for (const std::size_t parallel_from : {SIZE_MAX, std::size_t{0}}) {
      auto other = read(data, sunindex::ReadOptions{path, parallel_from});
      require(same_gfz_result(result, other, same), "a scan path or a read cut in two gives another result");
    }
  }
}

/// The reader's result is the model's: the same records, or the same error.
template <class Result, class Outcome, class Same>
void compare_gfz_model(Result& result, const Outcome& want, Same same) {
  if (result.ok() != want.ok) {
    fail(want.ok ? "reader failed where the model reads the file" : "reader succeeded where the model fails",
         want.ok ? result.error().text() : "model: row " + std::to_string(want.row) + ": " + want.message);
  }
  if (!want.ok) {
    require(result.error().row() == want.row && result.error().message() == want.message, "error differs from the model",
            result.error().text() + " / model: row " + std::to_string(want.row) + ": " + want.message);
    return;
  }
  require(std::equal(result.value().begin(), result.value().end(), want.records.begin(), want.records.end(), same),
          "records differ from the model");
}

inline void check_gfz_kp(std::string_view data) {
  using sunindex::GfzDay;
  auto result = sunindex::parse_gfz_kp(data);
  if (result.ok()) {
    check_gfz_records(data, result.value(), [](const GfzDay& a, const GfzDay& b) { return a.date < b.date; });
    for (const GfzDay& day : result.value()) {
      for (const double kp : day.kp) require(gfz_value(kp, 9, false, true), "Kp out of its range");
      for (const double ap : day.ap) require(gfz_value(ap, 400, true, false), "ap out of its range");
      require(gfz_value(day.ap_daily, 400, true, false) && gfz_value(day.sn, 9999, true, false) &&
                  gfz_value(day.f107_obs, 999999.9, false, false) && gfz_value(day.f107_adj, 999999.9, false, false),
              "a daily value out of its range");
      require(day.definitive <= 2, "D out of its range");
    }
  } else {
    check_gfz_error(data, result.error(), 158);
  }
  compare_gfz_model(result, model::gfz_kp(data), same_gfz_day);
  check_gfz_paths(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_gfz_kp(d, o); },
      same_gfz_day);
  check_numbers_in(data);
  check_word_readers(data);
}

/// The OBSERVED rows of a legacy text file up to `last` (inclusive) are the
/// CSV's rows of the same days, value by value and type by type (the row
/// numbers aside, and the extras in `unchecked`, a later release's
/// revisions); returns how many were compared.
inline std::size_t compare_legacy_text_with_csv(std::string_view txt, std::string_view csv, sunindex::CivilDate last,
                                                sunindex::CelestrakRowExtras::Bits unchecked = 0) {
  using sunindex::F107DataType;
  const sunindex::ReadOptions strict{.strict_structure = true};
  auto text = sunindex::parse_legacy_text(txt, strict);
  require(text.ok(), "the legacy text file does not read", text.ok() ? "" : text.error().text());
  std::vector<sunindex::CelestrakRowExtras> csv_extras;
  auto rows = sunindex::parse_celestrak_csv(csv, csv_extras, strict);
  require(rows.ok(), "the CSV does not read", rows.ok() ? "" : rows.error().text());
  std::map<sunindex::CivilDate, std::size_t> csv_row_of;
  for (std::size_t i = 0; i < rows.value().size(); ++i) csv_row_of.emplace(rows.value()[i].date, i);
  std::size_t compared = 0;
  for (std::size_t r = 0; r < text.value().records.size(); ++r) {
    const auto& record = text.value().records[r];
    const auto& extras = text.value().extras[r];
    const bool observed = extras.data_type == F107DataType::observed || extras.data_type == F107DataType::interpolated;
    if (!observed || last < record.date) continue;
    const auto found = csv_row_of.find(record.date);
    const std::string row = std::to_string(extras.row);
    require(found != csv_row_of.end(), "an observed day the CSV lacks: text line", row);
    const auto& want = csv_extras[found->second];
    require(same_record(record, rows.value()[found->second]), "a daily value differs from the CSV's: text line", row);
    for (std::size_t e = 0; e < want.values.size(); ++e) {
      const auto extra = static_cast<sunindex::CelestrakExtra>(e);
      if (unchecked & sunindex::CelestrakRowExtras::bit(extra)) continue;
      const std::string where = row + " " + std::string(sunindex::celestrak_extra_names[e]);
      require(extras.has(extra) == want.has(extra) && same_bits(extras.values[e], want.values[e]),
              "an extra differs from the CSV's: text line", where);
    }
    require(extras.data_type == want.data_type, "the data type differs from the CSV's: text line", row);
    ++compared;
  }
  require(compared > 0, "no observed row compared");
  return compared;
}

inline void check_gfz_hpo(std::string_view data) {
  using sunindex::HpoCadence;
  using sunindex::HpoInterval;
  bool read_empty[2], read_ok[2];
  for (const HpoCadence cadence : {HpoCadence::minutes30, HpoCadence::minutes60}) {
    auto result = sunindex::parse_gfz_hpo(data, cadence);
    if (result.ok()) {
      check_gfz_records(data, result.value(), [](const HpoInterval& a, const HpoInterval& b) {
        return a.date < b.date || (a.date == b.date && a.slot < b.slot);
      });
      for (const HpoInterval& interval : result.value()) {
        require(interval.slot < sunindex::intervals_per_day(cadence), "slot beyond the day's intervals");
        require(gfz_value(interval.hp, 99.999, false, true) && gfz_value(interval.ap, 9999, true, false),
                "a value out of its range");
      }
    } else {
      check_gfz_error(data, result.error(), 59);
    }
    compare_gfz_model(result, model::gfz_hpo(data, cadence), same_hpo_interval);
    check_gfz_paths(
        data, result,
        [cadence](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_gfz_hpo(d, cadence, o); },
        same_hpo_interval);
    const int k = cadence == HpoCadence::minutes30 ? 0 : 1;
    read_ok[k] = result.ok();
    read_empty[k] = result.ok() && result.value().empty();
  }
  // A middle hour is a quarter or a half past the start: no interval reads as both.
  require(!(read_ok[0] && read_ok[1]) || (read_empty[0] && read_empty[1]), "a line read as both cadences");
  check_numbers_in(data);
  check_word_readers(data);
}

/// "YYYY-MM-DD" of a date, for the outcomes below.
inline std::string iso_date(const CivilDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(date.year), date.month, date.day);
  return text;
}

/// A read's outcome in one line, for the test suite to compare with what a
/// file should give: "N records, FIRST..LAST" (the first and last record by
/// `describe`), or "row R: message".
template <class Result, class Describe>
std::string outcome_of(Result& result, Describe describe) {
  if (!result.ok()) return "row " + std::to_string(result.error().row()) + ": " + result.error().message();
  const auto& records = result.value();
  std::string text = std::to_string(records.size()) + " records";
  if (!records.empty()) text += ", " + describe(records.front()) + ".." + describe(records.back());
  return text;
}

inline std::string outcome_gfz_kp(std::string_view data) {
  auto result = sunindex::parse_gfz_kp(data);
  return outcome_of(result, [](const sunindex::GfzDay& day) {
    char values[64];
    std::snprintf(values, sizeof values, " Kp1 %g ap8 %g F10.7obs %g D %d", day.kp[0], day.ap[7], day.f107_obs,
                  day.definitive);
    return iso_date(day.date) + " row " + std::to_string(day.row) + values;
  });
}

inline std::string outcome_gfz_hpo(std::string_view data) {
  std::string text;
  for (const auto cadence : {sunindex::HpoCadence::minutes30, sunindex::HpoCadence::minutes60}) {
    auto result = sunindex::parse_gfz_hpo(data, cadence);
    text += (cadence == sunindex::HpoCadence::minutes30 ? "hp30 " : "; hp60 ");
    text += outcome_of(result, [](const sunindex::HpoInterval& interval) {
      char values[64];
      std::snprintf(values, sizeof values, " slot %d Hp %g ap %g", interval.slot, interval.hp, interval.ap);
      return iso_date(interval.date) + " row " + std::to_string(interval.row) + values;
    });
  }
  return text;
}

}  // namespace fuzz
