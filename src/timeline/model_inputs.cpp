#include "timeline/model_inputs.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "common/two_halves.hpp"

namespace sunindex::timeline {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

/// How uncertain a day's values are, or 0 when they feed no input.
std::uint8_t uncertainty(F107DataType type) noexcept {
  return type == F107DataType::predicted_monthly ? 0 : static_cast<std::uint8_t>(type);
}

/// `source[first + i]` for i in [0, count), NaN where that lies off the timeline.
LargeArray<double> days_of(const Timeline& timeline, const double* source, std::int64_t first, std::size_t count,
                            std::size_t per_day = 1) {
  LargeArray<double> days(count * per_day, nan);
  for (std::size_t i = 0; i < count; ++i) {
    if (const auto at = timeline.index_of(first + static_cast<std::int64_t>(i))) {
      std::copy_n(source + *at * per_day, per_day, days.begin() + i * per_day);
    }
  }
  return days;
}

/// The mean of `slots[g-7 .. g]` for each g, NaN where one is missing or
/// lies before the first. The values are integers or halves, so the sum and
/// the mean are exact whatever the order.
LargeArray<double> trailing_means(const LargeArray<double>& slots) {
  constexpr std::size_t n = ap_mean_slots;
  LargeArray<double> means(slots.size(), nan);
  for (std::size_t g = n - 1; g < slots.size(); ++g) {
    double sum = 0.0;
    for (std::size_t k = g - (n - 1); k <= g; ++k) sum += slots[k];
    means[g] = sum / n;
  }
  return means;
}

/// The MSIS inputs of epoch `e` as NaN and its type as unknown, for NaT.
void write_nan_row(const MsisOutput& out, std::size_t e) noexcept {
  out.f107[e] = out.f107a[e] = nan;
  std::fill_n(out.ap + 7 * e, 7, nan);
  out.data_type[e] = static_cast<std::uint8_t>(F107DataType::unknown);
}

/// Row `e`'s Hpo values as NaN.
void write_no_hpo(const DailyOutput& out, std::size_t e) noexcept {
  std::fill_n(out.hp30 + 48 * e, 48, nan);
  std::fill_n(out.ap30 + 48 * e, 48, nan);
  std::fill_n(out.hp60 + 24 * e, 24, nan);
  std::fill_n(out.ap60 + 24 * e, 24, nan);
}

/// A NaT's provenance and Hpo values: none.
void write_no_provenance(const DailyOutput& out, std::size_t e) noexcept {
  out.f107_source[e] = no_source;
  std::fill_n(out.ap_source + 8 * e, 8, no_source);
  out.kp_status[e] = -1;
  write_no_hpo(out, e);
}

/// The Hpo values of `day` into row `e`: NaN where no Hpo file has the day.
void copy_hpo_day(const Timeline& timeline, std::int64_t day, const DailyOutput& out, std::size_t e) noexcept {
  const auto at = timeline.hpo_index_of(day);
  if (!at) return write_no_hpo(out, e);
  const std::size_t i = *at;
  std::copy_n(timeline.hp30() + 48 * i, 48, out.hp30 + 48 * e);
  std::copy_n(timeline.ap30() + 48 * i, 48, out.ap30 + 48 * e);
  std::copy_n(timeline.hp60() + 24 * i, 24, out.hp60 + 24 * e);
  std::copy_n(timeline.ap60() + 24 * i, 24, out.ap60 + 24 * e);
}

/// `from` moved `fraction` (in [0, 1)) of the way to `to`; exactly `from` at
/// the start of a step, whatever `to` is.
double toward(double from, double to, double fraction) noexcept {
  return fraction == 0.0 ? from : from + fraction * (to - from);
}

}  // namespace

// ---------------------------------------------------------------------------
// NRLMSISE-00 / MSIS

MsisInputs::MsisInputs(const Timeline& timeline) : coverage_(timeline.daily_span()) {
  if (!coverage_) return;
  origin_ = coverage_->first - history_days;
  const auto days = static_cast<std::size_t>(coverage_->last - origin_ + 1);
  LargeArray<double> f107_obs = days_of(timeline, timeline.column(Column::f107_obs), origin_, days);
  LargeArray<double> f107_center81 = days_of(timeline, timeline.column(Column::f107_obs_center81), origin_, days);
  LargeArray<double> ap_avg = days_of(timeline, timeline.column(Column::ap_avg), origin_, days);
  ap_ = days_of(timeline, timeline.ap_3hr(), origin_, days, 8);

  // A monthly prediction inside the daily span feeds nothing: clear its day.
  std::vector<std::uint8_t> type(days, 0), mean_type(days, 0);
  for (std::size_t i = 0; i < days; ++i) {
    const auto at = timeline.index_of(origin_ + static_cast<std::int64_t>(i));
    if (!at) continue;
    type[i] = uncertainty(timeline.data_type()[*at]);
    const std::uint8_t mean = timeline.mean_type()[*at];
    mean_type[i] = mean == static_cast<std::uint8_t>(F107DataType::predicted_monthly) ? 0 : mean;
    if (timeline.data_type()[*at] == F107DataType::predicted_monthly) {
      f107_obs[i] = f107_center81[i] = ap_avg[i] = nan;
      std::fill_n(ap_.begin() + 8 * i, 8, nan);
    }
  }
  ap_mean8_ = trailing_means(ap_);

  // The record past the last day holds only its flux before, for the forecast's first day.
  days_.assign(days + 1, Day{nan, nan, nan, 0, 0, 0});
  for (std::size_t i = 0; i < days; ++i) {
    days_[i + 1].f107_before = f107_obs[i];
    days_[i].f107a = f107_center81[i];
    days_[i].ap_avg = ap_avg[i];
  }
  for (const MeanTail& tail : timeline.mean_tails()) {
    if (!coverage_->contains(tail.day)) continue;
    tails_.push_back(tail);
    days_[static_cast<std::size_t>(tail.day - origin_)].tail = static_cast<std::uint32_t>(tails_.size());
  }
  for (std::size_t i = history_days; i < days; ++i) {
    days_[i].type_3days = std::max({type[i], mean_type[i], type[i - 1], type[i - 2]});
    days_[i].type_4days = std::max(days_[i].type_3days, type[i - 3]);
  }
}

double MsisInputs::f107_before(std::size_t d, std::optional<double> burst_limit, std::uint8_t& type,
                               std::span<const double> tail_means) const noexcept {
  const double f107 = days_[d].f107_before;
  if (!burst_limit || !(f107 <= 0.0 || f107 > *burst_limit)) return f107;  // a missing flux stays missing
  type = std::max(type, uncertainty(F107DataType::interpolated));  // a stand-in, as pymsis flags it
  return f107a_of(days_[d - 1], tail_means);
}

void MsisInputs::slot_ap(std::size_t g, double* ap) const noexcept {
  for (std::size_t i = 0; i < ap_windows.size(); ++i) {
    const ApWindow& window = ap_windows[i];
    ap[i + 1] = window.slots == 1 ? ap_[g - window.newest] : ap_mean8_[g - window.newest];
  }
}

template <class Fill>
std::optional<FailedEpoch> MsisInputs::for_each_epoch(const Epochs& epochs, const MsisOutput& out,
                                                      Fill fill) const noexcept {
  return in_two_halves(epochs.count, [&](std::size_t begin, std::size_t end) noexcept -> std::optional<FailedEpoch> {
    for (std::size_t e = begin; e < end; ++e) {
      if (epochs.ticks[e] == not_a_time) {
        write_nan_row(out, e);
        continue;
      }
      const auto [day, ticks_in_day] = epochs.clock.split(epochs.ticks[e]);
      if (const auto why = outside(coverage_, day)) return FailedEpoch{e, *why};
      const auto d = static_cast<std::size_t>(day - origin_);
      const int slot = slot_of(epochs.clock, ticks_in_day);
      fill(e, Place{day, ticks_in_day, d, slot, 8 * d + static_cast<std::size_t>(slot)});
    }
    return std::nullopt;
  });
}

std::optional<FailedEpoch> MsisInputs::compute(const Epochs& epochs, std::optional<double> burst_limit,
                                               const MsisOutput& out, std::span<const double> tail_means) const noexcept {
  return for_each_epoch(epochs, out, [&](std::size_t e, const Place& at) {
    double* const ap = out.ap + 7 * e;
    // Slots 0-2 reach back into day d-3 for the oldest mean; later ones do not.
    const Day& today = days_[at.d];
    std::uint8_t type = at.slot < 3 ? today.type_4days : today.type_3days;
    out.f107[e] = f107_before(at.d, burst_limit, type, tail_means);
    out.f107a[e] = f107a_of(today, tail_means);
    ap[0] = today.ap_avg;
    slot_ap(at.g, ap);
    out.data_type[e] = type;
  });
}

std::optional<FailedEpoch> MsisInputs::compute_interpolated(const Epochs& epochs, std::optional<double> burst_limit,
                                                            const MsisOutput& out,
                                                            std::span<const double> tail_means) const noexcept {
  return for_each_epoch(epochs, out, [&](std::size_t e, const Place& at) {
    double* const ap = out.ap + 7 * e;
    // The step after the last one of the daily rows is the last one again: the value is held.
    const bool last_day = at.day == coverage_->last;
    const std::size_t next_d = last_day ? at.d : at.d + 1;
    const std::size_t next_g = last_day && at.slot == 7 ? at.g : at.g + 1;
    const double day_fraction = epochs.clock.fraction_of_day(at.ticks_in_day);
    const double slot_fraction = epochs.clock.fraction_of_part(at.ticks_in_day, 8, at.slot);

    const Day& today = days_[at.d];
    const Day& next_day = days_[next_d];
    std::uint8_t type = at.slot < 3 ? today.type_4days : today.type_3days;
    if (day_fraction > 0.0) type = std::max(type, next_day.type_3days);  // the next day's values count too
    const double f107 = f107_before(at.d, burst_limit, type, tail_means);
    out.f107[e] = day_fraction == 0.0 ? f107
                                      : toward(f107, f107_before(next_d, burst_limit, type, tail_means), day_fraction);
    out.f107a[e] = toward(f107a_of(today, tail_means), f107a_of(next_day, tail_means), day_fraction);
    ap[0] = toward(today.ap_avg, next_day.ap_avg, day_fraction);
    double next_ap[7];
    slot_ap(at.g, ap);
    slot_ap(next_g, next_ap);
    for (std::size_t i = 1; i < 7; ++i) ap[i] = toward(ap[i], next_ap[i], slot_fraction);
    out.data_type[e] = type;
  });
}

// ---------------------------------------------------------------------------
// JB2008

namespace {

/// A SOLFSMY column with every value below 40 made missing, as the model's
/// own driver does: the file writes 0.0 where it has no value.
LargeArray<double> solar_index(const Timeline& timeline, LoadedColumn column, std::int64_t first, std::size_t days) {
  LargeArray<double> values = days_of(timeline, timeline.column(column), first, days);
  for (double& value : values) {
    if (value < 40.0) value = nan;
  }
  return values;
}

/// The data type of the JB2008 inputs of each day from `first + longest`
/// to `first + days - 1`: the least certain of the four indices' flags (F10,
/// S10, M10, Y10), each on the day `lags` (days back) names.
std::vector<std::uint8_t> solfsmy_types(const Timeline& timeline, std::int64_t first, std::size_t days,
                                        const std::array<std::size_t, 4>& lags, std::size_t longest) {
  const auto flags_of = [&](std::int64_t day) -> const std::array<char, 4>* {
    const auto at = timeline.index_of(day);
    return at ? &timeline.solfsmy_source()[*at] : nullptr;
  };
  // Without a measured day, every day is of the forecast.
  const std::int64_t last_measured = timeline.solfsmy_last_measured().value_or(std::numeric_limits<std::int64_t>::min());
  std::vector<std::uint8_t> types(days - longest, 0);
  for (std::size_t d = longest; d < days; ++d) {
    const std::int64_t day = first + static_cast<std::int64_t>(d);
    std::uint8_t type = 0;
    for (std::size_t index = 0; index < lags.size(); ++index) {
      const std::int64_t used = day - static_cast<std::int64_t>(lags[index]);
      const auto* flags = flags_of(used);
      if (!flags || (*flags)[index] == ' ') continue;
      type = std::max(type, static_cast<std::uint8_t>(solfsmy_flag_type((*flags)[index], index, used > last_measured)));
    }
    types[d - longest] = type;
  }
  return types;
}

}  // namespace

F107DataType solfsmy_flag_type(char flag, std::size_t index, bool in_forecast) noexcept {
  constexpr std::size_t f10 = 0, s10 = 1, m10 = 2;
  if (flag == '0') return in_forecast ? F107DataType::predicted_daily : F107DataType::interpolated;
  const bool mean = flag == 'F' || (index == f10 && flag == '5') || (index == m10 && flag == '6');
  const bool filled = index == s10 && (flag == '3' || flag == '4' || flag == '6' || flag == '7');
  return mean || filled ? F107DataType::interpolated : F107DataType::observed;
}

Jb2008Inputs::Jb2008Inputs(const Timeline& timeline) {
  const auto solfsmy = timeline.span(Source::solfsmy);
  const auto dtcfile = timeline.span(Source::dtcfile);
  if (!solfsmy || !dtcfile) return;
  const DaySpan both{std::max(solfsmy->first, dtcfile->first), std::min(solfsmy->last, dtcfile->last)};
  if (both.first > both.last) return;
  coverage_ = both;

  const std::int64_t origin = both.first - lag_days;
  const auto days = static_cast<std::size_t>(both.last - origin + 1);
  // Each input by the SOLFSMY column it comes from and how many days back.
  struct Lagged {
    LoadedColumn column;
    std::size_t lag;
  };
  using enum Jb2008Input;
  constexpr std::array<std::pair<Jb2008Input, Lagged>, solar_input_count> sources{{
      {f10, {Column::f10, 1}},  {f10b, {Column::f81c, 1}},  {s10, {Column::s10, 1}},  {s10b, {Column::s81c, 1}},
      {xm10, {Column::m10, 2}}, {xm10b, {Column::m81c, 2}}, {y10, {Column::y10, 5}}, {y10b, {Column::y81c, 5}},
  }};
  days_.resize(days - lag_days);
  for (const auto& [input, source] : sources) {
    const LargeArray<double> values = solar_index(timeline, source.column, origin, days);
    for (std::size_t d = 0; d < days_.size(); ++d) {
      days_[d].inputs[static_cast<std::size_t>(input)] = values[d + lag_days - source.lag];
    }
  }

  const auto lag = [&](Jb2008Input input) {
    return std::ranges::find(sources, input, [](const auto& source) { return source.first; })->second.lag;
  };
  types_ = solfsmy_types(timeline, origin, days, {lag(f10), lag(s10), lag(xm10), lag(y10)}, lag_days);

  // One day past the coverage, for the hour between 23:00 and midnight.
  dtc_ = days_of(timeline, timeline.dtc_hourly(), both.first, static_cast<std::size_t>(both.last - both.first + 2), 24);
}

std::optional<FailedEpoch> Jb2008Inputs::compute(const Epochs& epochs, const Jb2008Output& out) const noexcept {
  return in_two_halves(epochs.count, [&](std::size_t begin, std::size_t end) noexcept -> std::optional<FailedEpoch> {
    for (std::size_t e = begin; e < end; ++e) {
      if (epochs.ticks[e] == not_a_time) {
        for (double* input : out.inputs) input[e] = nan;
        out.data_type[e] = static_cast<std::uint8_t>(F107DataType::unknown);
        continue;
      }
      const auto [day, ticks_in_day] = epochs.clock.split(epochs.ticks[e]);
      if (const auto why = outside(coverage_, day)) return FailedEpoch{e, *why};
      const auto d = static_cast<std::size_t>(day - coverage_->first);
      for (std::size_t i = 0; i < solar_input_count; ++i) out.inputs[i][e] = days_[d].inputs[i];
      out.data_type[e] = types_[d];

      // Hour k's value holds at k:00 exactly; between hours it is interpolated
      // towards the next one, which after 23:00 is the next day's first.
      const int hour = epochs.clock.part_of_day(ticks_in_day, 24);
      const std::size_t h = 24 * d + static_cast<std::size_t>(hour);
      const double fraction = epochs.clock.fraction_of_part(ticks_in_day, 24, hour);
      out[Jb2008Input::dstdtc][e] = toward(dtc_[h], dtc_[h + 1], fraction);
    }
    return std::nullopt;
  });
}

// ---------------------------------------------------------------------------
// Daily lookup

std::optional<FailedEpoch> lookup_daily(const AllColumns& all, const Epochs& epochs, const DailyOutput& out) noexcept {
  const Timeline& timeline = all.timeline();
  for (std::size_t e = 0; e < epochs.count; ++e) {
    if (epochs.ticks[e] == not_a_time) {
      for (double* column : out.columns) column[e] = nan;
      std::fill_n(out.ap + 8 * e, 8, nan);
      std::fill_n(out.kp + 8 * e, 8, nan);
      std::fill_n(out.dtc + 24 * e, 24, nan);
      out.f107_data_type[e] = static_cast<std::uint8_t>(F107DataType::unknown);
      out.ssrc[e] = {' ', ' ', ' ', ' '};
      out.monthly[e] = false;
      out.day[e] = not_a_time;
      write_no_provenance(out, e);
      continue;
    }
    const std::int64_t day = epochs.clock.split(epochs.ticks[e]).day;
    const auto at = timeline.index_of(day);
    if (!at) return FailedEpoch{e, *outside(timeline.day_span(), day)};
    const std::size_t i = *at;
    for (std::size_t c = 0; c < column_count; ++c) out.columns[c][e] = all.column(static_cast<Column>(c))[i];
    std::copy_n(timeline.ap_3hr() + 8 * i, 8, out.ap + 8 * e);
    std::copy_n(all.kp_3hr() + 8 * i, 8, out.kp + 8 * e);
    if (timeline.has_dtc_hourly()) {
      std::copy_n(timeline.dtc_hourly() + 24 * i, 24, out.dtc + 24 * e);
    } else {
      std::fill_n(out.dtc + 24 * e, 24, nan);
    }
    // The file's own type, monthly predictions included, is what a day shows.
    const F107DataType type = timeline.data_type()[i];
    out.f107_data_type[e] = static_cast<std::uint8_t>(type);
    out.ssrc[e] = timeline.solfsmy_source()[i];
    out.monthly[e] = type == F107DataType::predicted_monthly;
    out.day[e] = day;
    out.f107_source[e] = timeline.f107_source()[i];
    std::copy_n(timeline.ap_source() + 8 * i, 8, out.ap_source + 8 * e);
    out.kp_status[e] = timeline.kp_status()[i];
    copy_hpo_day(timeline, day, out, e);
  }
  return std::nullopt;
}

void lookup_hpo(const Timeline& timeline, const Epochs& epochs, const HpoOutput& out) noexcept {
  in_two_halves(epochs.count, [&](std::size_t begin, std::size_t end) noexcept -> std::optional<FailedEpoch> {
    for (std::size_t e = begin; e < end; ++e) {
      out.hp30[e] = out.ap30[e] = out.hp60[e] = out.ap60[e] = nan;
      if (epochs.ticks[e] == not_a_time) continue;
      const auto [day, ticks_in_day] = epochs.clock.split(epochs.ticks[e]);
      const auto at = timeline.hpo_index_of(day);
      if (!at) continue;
      const std::size_t half_hour = 48 * *at + static_cast<std::size_t>(epochs.clock.part_of_day(ticks_in_day, 48));
      const std::size_t hour = 24 * *at + static_cast<std::size_t>(epochs.clock.part_of_day(ticks_in_day, 24));
      out.hp30[e] = timeline.hp30()[half_hour];
      out.ap30[e] = timeline.ap30()[half_hour];
      out.hp60[e] = timeline.hp60()[hour];
      out.ap60[e] = timeline.ap60()[hour];
    }
    return std::nullopt;
  });
}

}  // namespace sunindex::timeline
