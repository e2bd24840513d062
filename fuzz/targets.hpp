#pragma once

// What each fuzz target checks on one input: its reader's result against
// the common properties and the reference reader, every scan path and the
// read cut in two against the default read, and the number and word
// readers on the input's pieces. The libFuzzer entries (fuzz_*.cpp) and the
// replay driver the test suite runs (replay.cpp) both call these, so the
// suite checks exactly what the fuzzers do.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "gfz_model.hpp"
#include "model.hpp"
#include "readers/celestrak_csv.hpp"
#include "readers/dtcfile.hpp"
#include "readers/gfz_hpo.hpp"
#include "readers/gfz_kp.hpp"
#include "readers/msfc_prediction.hpp"
#include "readers/solfsmy.hpp"
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
