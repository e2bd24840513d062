#pragma once

// The inputs of the thermosphere models at epochs: NRLMSISE-00/MSIS from the
// CelesTrak CSV, JB2008 from SOLFSMY.TXT and DTCFILE.TXT, and the plain
// lookup of a day's every column. Each is a table laid out once per timeline
// and a loop over epochs that touches nothing else, so that callers can run
// it without holding any lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "timeline/epoch.hpp"
#include "timeline/large_array.hpp"
#include "timeline/result_fields.hpp"
#include "timeline/timeline.hpp"

namespace sunindex::timeline {

/// Epochs as ticks of one clock; not_a_time gives a row of NaN.
struct Epochs {
  const std::int64_t* ticks;
  std::size_t count;
  TickClock clock;
};

/// Why an epoch got no values: X(key), the key Python knows the reason by.
#define SUNINDEX_EPOCH_FAILURES(X) \
  X(no_rows)           /* there are no days to compute from */ \
  X(before_rows)       /* the epoch's day lies before the days computed from */ \
  X(after_rows)        /* the epoch's day lies after them */ \
  X(before_prediction) /* the epoch needs the solar-cycle prediction before its first month */ \
  X(before_mean)       /* its 81-day mean needs the prediction on days before its first */ \
  X(past_last_day)     /* the epoch lies after SolarCyclePrediction::last_day */

enum class EpochFailure : std::uint8_t {
  SUNINDEX_EPOCH_FAILURES(SUNINDEX_ENUMERATOR)
  count,  // not a reason
};
inline constexpr std::size_t epoch_failure_count = static_cast<std::size_t>(EpochFailure::count);
/// The key of each EpochFailure.
inline constexpr std::array<std::string_view, epoch_failure_count> epoch_failure_keys{
    SUNINDEX_EPOCH_FAILURES(SUNINDEX_KEY_TEXT)};

/// The first epoch that got no values, and why.
struct FailedEpoch {
  std::size_t index;
  EpochFailure why;
};

/// Why an epoch on `day` gets no values from `coverage`, the days computed
/// from (none when there are none), or nothing when the day lies inside.
inline std::optional<EpochFailure> outside(const std::optional<DaySpan>& coverage, std::int64_t day) noexcept {
  if (!coverage) return EpochFailure::no_rows;
  if (day < coverage->first) return EpochFailure::before_rows;
  if (day > coverage->last) return EpochFailure::after_rows;
  return std::nullopt;
}

/// The NRLMSISE-00/MSIS inputs of an epoch (see MsisInputs), X(key, element, width).
#define SUNINDEX_MSIS_FIELDS(X) \
  X(f107, float64, 1)        /* F10.7 of the day before */ \
  X(f107a, float64, 1)       /* its 81-day centred mean */ \
  X(ap, float64, 7)          /* daily Ap, the slot's ap and the three before, two means of eight */ \
  X(data_type, data_type, 1) /* the least certain data type of the days used; unknown for NaT */

/// Where the MSIS inputs go: one row per epoch (or per member and epoch) each.
struct MsisOutput {
  SUNINDEX_MSIS_FIELDS(SUNINDEX_FIELD_POINTER)
};
inline constexpr std::array msis_fields{SUNINDEX_MSIS_FIELDS(SUNINDEX_FIELD)};

/// MSIS's ap[1..6] as windows of 3-hour slots counted back from the epoch's:
/// the slot itself and the three before it, then the means of the eight
/// slots 12-33 h and 36-57 h before. The daily, interpolated and forecast
/// inputs all read their windows here, and a mean adds its slots oldest
/// first, so that every path gives the same value to the bit.
struct ApWindow {
  int newest;  // how many slots back the window's newest slot lies
  int slots;   // 1 for a single slot, else ap_mean_slots
};
inline constexpr int ap_mean_slots = 8;
inline constexpr std::array<ApWindow, 6> ap_windows{
    {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, ap_mean_slots}, {12, ap_mean_slots}}};

/// NRLMSISE-00/MSIS inputs: f107 = F10.7_OBS of the previous UTC day,
/// f107a = F10.7_OBS_CENTER81 of the day, ap = daily Ap, the ap of the
/// current slot and the three before it, then the means of the eight slots
/// 12-33 h and 36-57 h before. Monthly prediction rows feed nothing.
class MsisInputs {
 public:
  explicit MsisInputs(const Timeline& timeline);

  /// The days an epoch may fall on: the daily sources' days; none without them.
  std::optional<DaySpan> coverage() const noexcept { return coverage_; }

  /// The 81-day means the timeline left for the prediction to finish
  /// (Timeline::mean_tails), whose values a call passes as `tail_means`, in
  /// this order; without them those means are NaN.
  const std::vector<MeanTail>& tails() const noexcept { return tails_; }
  /// The index in tails() of the mean of `day`, inside coverage(), or none.
  std::optional<std::size_t> tail_of(std::int64_t day) const noexcept {
    const std::uint32_t tail = days_[static_cast<std::size_t>(day - origin_)].tail;
    if (tail == 0) return std::nullopt;
    return tail - 1;
  }

  /// Fills `out` for each epoch. With a burst limit, a previous-day flux
  /// <= 0 or above it is replaced by that day's centred 81-day mean. Returns
  /// the first epoch whose day lies outside coverage(), where it stops, and
  /// why; none when every epoch lies inside.
  std::optional<FailedEpoch> compute(const Epochs& epochs, std::optional<double> burst_limit, const MsisOutput& out,
                                     std::span<const double> tail_means = {}) const noexcept;

  /// As compute(), but each input moves linearly from its value at the start
  /// of its step to its value at the start of the next: f107, f107a and ap[0]
  /// across the UTC day, ap[1..6] across the 3-hour slot (pymsis's
  /// `interpolate=True`). On coverage's last day and slot, the next step lies
  /// past the daily rows and the value is held. The burst limit applies to
  /// each day's flux before interpolating. The data type also counts the next
  /// day when the epoch is past midnight.
  std::optional<FailedEpoch> compute_interpolated(const Epochs& epochs, std::optional<double> burst_limit,
                                                  const MsisOutput& out, std::span<const double> tail_means = {}) const noexcept;

  /// The f107 of an epoch on `day`, the day after coverage's last included:
  /// the previous day's flux, the burst rule applied as in compute().
  double previous_day_f107(std::int64_t day, std::optional<double> burst_limit) const noexcept {
    std::uint8_t type = 0;  // unused: an epoch past the daily rows is flagged MSFC whatever its flux
    return f107_before(static_cast<std::size_t>(day - origin_), burst_limit, type, {});
  }
  /// The ap of 3-hour slot `slot` (0-7) of `day`, from 3 days before
  /// coverage's first day to its last: NaN where absent, as compute() sees it.
  double ap_of_slot(std::int64_t day, int slot) const noexcept {
    return ap_[8 * static_cast<std::size_t>(day - origin_) + static_cast<std::size_t>(slot)];
  }

 private:
  static constexpr std::int64_t history_days = 3;  // the oldest slot used lies 3 days back
  static_assert(ap_windows.back().newest + ap_windows.back().slots - 1 <= 8 * history_days,
                "the oldest slot a window reaches lies within history_days of the day's first");

  /// What an epoch needs of its day beside the slots, in one record that
  /// never straddles a cache line: in random order each table an epoch
  /// reads costs a miss, and these were five tables.
  struct alignas(32) Day {
    double f107_before;       // F10.7_OBS of the day before
    double f107a;             // F10.7_OBS_CENTER81 of the day
    double ap_avg;            // daily Ap
    std::uint8_t type_3days;  // the least certain type of this day, its mean and the two days before
    std::uint8_t type_4days;  // the same, the third day before included
    std::uint32_t tail;       // 1 + the index in tails_ of its mean, or 0 for f107a
  };
  /// The day's f107a: its own, or its tail's value in `tail_means`, NaN without them.
  double f107a_of(const Day& day, std::span<const double> tail_means) const noexcept {
    if (day.tail == 0) return day.f107a;
    return tail_means.empty() ? day.f107a : tail_means[day.tail - 1];
  }

  /// The flux of the day before day index `d`; with a burst limit, one <= 0
  /// or above it is replaced by that day's centred 81-day mean, and `type`
  /// raised to at least interpolated, as pymsis flags the stand-in.
  double f107_before(std::size_t d, std::optional<double> burst_limit, std::uint8_t& type,
                     std::span<const double> tail_means) const noexcept;
  /// ap[1..6] of slot index `g`.
  void slot_ap(std::size_t g, double* ap) const noexcept;

  /// Where an epoch inside coverage falls: its day and the time into it, the
  /// day's index in the tables, its 3-hour slot and that slot's index.
  struct Place {
    std::int64_t day;
    std::int64_t ticks_in_day;
    std::size_t d;
    int slot;
    std::size_t g;
  };
  /// Runs `fill(e, place)` for each epoch inside coverage and writes a row of
  /// NaN for NaT; returns the first epoch outside, as compute() does.
  template <class Fill>
  std::optional<FailedEpoch> for_each_epoch(const Epochs& epochs, const MsisOutput& out, Fill fill) const noexcept;

  std::int64_t origin_ = 0;  // the day of index 0: coverage's first day minus history_days
  std::optional<DaySpan> coverage_;
  static_assert(sizeof(Day) == 32);
  LargeArray<Day> days_;  // to the day after coverage's last, whose flux before is the last day's
  LargeArray<double> ap_, ap_mean8_;  // per slot; ap_mean8_[g] is the mean of ap_[g-7 .. g]
  std::vector<MeanTail> tails_;
};

/// The JB2008 inputs, in the model's argument order: X(key), the key of the
/// input in Python.
#define SUNINDEX_JB2008_INPUTS(X) \
  X(f10)    /* F10.7 of the previous day */ \
  X(f10b)   /* its 81-day centred value */ \
  X(s10)    /* S10.7 of the previous day */ \
  X(s10b)   /* its 81-day centred value */ \
  X(xm10)   /* M10.7 of two days back */ \
  X(xm10b)  /* its 81-day centred value */ \
  X(y10)    /* Y10.7 of five days back */ \
  X(y10b)   /* its 81-day centred value */ \
  X(dstdtc) /* Dtc interpolated to the epoch */

enum class Jb2008Input : std::uint8_t {
  SUNINDEX_JB2008_INPUTS(SUNINDEX_ENUMERATOR)
  count,  // not an input
};
inline constexpr std::size_t jb2008_input_count = static_cast<std::size_t>(Jb2008Input::count);
/// The key of each Jb2008Input.
inline constexpr std::array<std::string_view, jb2008_input_count> jb2008_input_keys{
    SUNINDEX_JB2008_INPUTS(SUNINDEX_KEY_TEXT)};

/// Each JB2008 input is one float64 per epoch.
inline constexpr auto jb2008_fields = [] {
  std::array<Field, jb2008_input_count> fields{};
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = {jb2008_input_keys[i], Element::float64, 1};
  return fields;
}();

struct Jb2008Output {
  std::array<double*, jb2008_input_count> inputs;  // count values each, by Jb2008Input

  double* operator[](Jb2008Input input) const noexcept { return inputs[static_cast<std::size_t>(input)]; }
};

/// JB2008 inputs: F10, S10 and their 81-day centred values 1 day back, M10
/// 2 days back, Y10 5 days back (SOLFSMY; a value below 40 is missing), and
/// DSTDTC interpolated between the hourly Dtc values of the epoch's day.
class Jb2008Inputs {
 public:
  explicit Jb2008Inputs(const Timeline& timeline);

  /// The days both SOLFSMY and DTCFILE cover; none unless both have rows.
  std::optional<DaySpan> coverage() const noexcept { return coverage_; }

  /// As MsisInputs::compute.
  std::optional<FailedEpoch> compute(const Epochs& epochs, const Jb2008Output& out) const noexcept;

 private:
  static constexpr std::int64_t lag_days = 5;  // Y10's lag, the longest
  static constexpr std::size_t solar_input_count = jb2008_input_count - 1;  // all but dstdtc

  /// The SOLFSMY inputs of an epoch's day, each already taken from the day
  /// its lag names, in Jb2008Input's order: one cache line per epoch where
  /// eight tables cost eight misses in random order.
  struct alignas(64) Day {
    std::array<double, solar_input_count> inputs;
  };
  static_assert(sizeof(Day) == 64);

  std::optional<DaySpan> coverage_;  // days_[0] and the first hourly value are of its first day
  LargeArray<Day> days_;
  LargeArray<double> dtc_;  // 24 per day, and one more day of NaN for the hour after the last
};

/// What a day holds beside its columns, X(key, element, width).
#define SUNINDEX_DAILY_FIELDS(X) \
  X(day, int64, 1)                /* the UTC day, not_a_time for NaT */ \
  X(ap, float64, 8)               /* the 3-hourly ap, 00-03 UT first */ \
  X(kp, float64, 8)               /* the 3-hourly Kp, as the CSV writes it */ \
  X(dtc, float64, 24)             /* the hourly Dtc, 00 UT first */ \
  X(f107_data_type, data_type, 1) /* the least certain type of the rows the day took values from, PRM included */ \
  X(ssrc, flags, 1)               /* SOLFSMY's source flags */ \
  X(monthly, boolean, 1)          /* the CSV row is a monthly prediction */ \
  X(f107_source, source, 1)       /* the file the day's F10.7_OBS came from */ \
  X(ap_source, source, 8)         /* the file each 3-hourly ap came from */ \
  X(kp_status, int8, 1)           /* GFZ's D flag where GFZ gave the day's Kp, else -1 */ \
  X(hp30, float64, 48)            /* GFZ's half-hourly Hp30, 00:00-00:30 UT first */ \
  X(ap30, float64, 48)            /* and ap30 */ \
  X(hp60, float64, 24)            /* GFZ's hourly Hp60, 00 UT first */ \
  X(ap60, float64, 24)            /* and ap60 */

/// Where each epoch's day goes: the fields above, then one float64 per column.
struct DailyOutput {
  SUNINDEX_DAILY_FIELDS(SUNINDEX_FIELD_POINTER)
  std::array<double*, column_count> columns;  // by Column
};
inline constexpr auto daily_fields = [] {
  constexpr std::array own{SUNINDEX_DAILY_FIELDS(SUNINDEX_FIELD)};
  std::array<Field, own.size() + column_count> fields{};
  for (std::size_t i = 0; i < own.size(); ++i) fields[i] = own[i];
  for (std::size_t c = 0; c < column_count; ++c) fields[own.size() + c] = {column_keys[c], Element::float64, 1};
  return fields;
}();

/// Every column of each epoch's UTC day, which must lie on the timeline.
/// Returns as MsisInputs::compute, the timeline's days being those computed from.
std::optional<FailedEpoch> lookup_daily(const AllColumns& all, const Epochs& epochs, const DailyOutput& out) noexcept;

/// GFZ's Hpo indices of the interval holding an epoch, X(key, element, width).
#define SUNINDEX_HPO_FIELDS(X) \
  X(hp30, float64, 1) /* Hp30 of the half hour */ \
  X(ap30, float64, 1) /* ap30 */ \
  X(hp60, float64, 1) /* Hp60 of the hour */ \
  X(ap60, float64, 1) /* ap60 */

struct HpoOutput {
  SUNINDEX_HPO_FIELDS(SUNINDEX_FIELD_POINTER)
};
inline constexpr std::array hpo_fields{SUNINDEX_HPO_FIELDS(SUNINDEX_FIELD)};

/// The Hpo values of the interval holding each epoch (from its start to the
/// next start), NaN where no file gave one, off the timeline and for NaT.
void lookup_hpo(const Timeline& timeline, const Epochs& epochs, const HpoOutput& out) noexcept;

}  // namespace sunindex::timeline
