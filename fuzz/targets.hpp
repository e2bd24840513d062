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
#include <cstring>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "model.hpp"
#include "readers/celestrak_csv.hpp"
#include "readers/dtcfile.hpp"
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

}  // namespace fuzz
