#include "timeline/forecast.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/two_halves.hpp"

namespace sunindex::timeline {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

/// The standard normal distribution's lower tail P(Z <= x).
double normal_cdf(double x) noexcept { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

/// z(p) for 0 <= p <= 0.5 (so z <= 0), given log(p) too: a p that underflows
/// to 0 still has a finite quantile, which its logarithm gives.
double lower_quantile(double p, double log_p) noexcept {
  // Abramowitz and Stegun 26.2.23 (error below 4.5e-4) to start, then
  // Halley's method on the distribution itself: the error cubes with each
  // step, so two or three reach the last place.
  const double t = std::sqrt(-2.0 * log_p);
  double x = -(t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1.0 + t * (1.432788 + t * (0.189269 + t * 0.001308))));
  constexpr double sqrt_two_pi = 2.5066282746310002;
  for (int step = 0; step < 8; ++step) {
    const double u = (normal_cdf(x) - p) * sqrt_two_pi * std::exp(0.5 * x * x);
    const double change = u / (1.0 + 0.5 * x * u);
    // Far out in the tail the density underflows: the start is then as good as it gets.
    if (!std::isfinite(change)) break;
    x -= change;
    if (std::abs(change) <= 1e-17 * std::abs(x)) break;
  }
  return x;
}

/// The mean of F at 00:00 of day + k, k = -40 .. 40, summed in that order.
template <class FluxOf>
Columns centred_mean(std::int64_t day, const FluxOf& flux_of) noexcept {
  Columns sum{0.0, 0.0, 0.0};
  const std::int64_t half = SolarCyclePrediction::mean_half_width;
  for (std::int64_t k = -half; k <= half; ++k) {
    const Columns flux = flux_of(day + k);
    for (std::size_t c = 0; c < sum.size(); ++c) sum[c] += flux[c];
  }
  for (double& value : sum) value /= static_cast<double>(2 * half + 1);
  return sum;
}

/// The quiet Sun's 10.7 cm flux, with no active region on the disk (sfu):
/// the floor of F10.7, unless a release's own 5th percentile lies lower.
constexpr double quiet_sun_f107 = 64.0;

double flux_floor(const PredictionMonth& month) noexcept { return std::min(quiet_sun_f107, month.f107[2]); }
double ap_floor(const PredictionMonth& month) noexcept { return std::min(0.0, month.ap[2]); }

/// The least (P50 - floor) / (P50 - P5) of a quantity among `months`, or
/// infinity when no month's columns spread below the median.
template <class Quantity, class Floor>
double least_floor_ratio(const std::vector<PredictionMonth>& months, const Quantity& quantity, const Floor& floor) noexcept {
  double least = std::numeric_limits<double>::infinity();
  for (const PredictionMonth& month : months) {
    const Columns& columns = quantity(month);
    if (columns[1] > columns[2]) least = std::min(least, (columns[1] - floor(month)) / (columns[1] - columns[2]));
  }
  return least;
}

double lerp(double a, double b, double fraction) noexcept { return a + fraction * (b - a); }

/// floor(a / 8) for any sign: the day of a slot number.
std::int64_t day_of_slot(std::int64_t slot) noexcept { return slot >= 0 ? slot / 8 : (slot - 7) / 8; }

}  // namespace

double standard_normal_quantile(double p) noexcept {
  // 1 - p is exact for p >= 0.5, so the upper half loses nothing by symmetry.
  return p <= 0.5 ? lower_quantile(p, std::log(p)) : -lower_quantile(1.0 - p, std::log(1.0 - p));
}

Percentile::Percentile(double q) noexcept {
  constexpr std::array<double, 3> published{95.0, 50.0, 5.0};
  for (std::size_t c = 0; c < published.size(); ++c) {
    if (q == published[c]) {
      side_ = c;
      return;
    }
  }
  static const double z95 = standard_normal_quantile(0.95), z05 = standard_normal_quantile(0.05);
  exact_ = false;
  side_ = q > 50.0 ? 0 : 2;
  // Below about 5e-322, q / 100 underflows to 0, whose quantile would be -infinity.
  const double p = q / 100.0;
  const double z = p > 0.0 ? standard_normal_quantile(p) : lower_quantile(0.0, std::log(q) - std::log(100.0));
  ratio_ = z / (q > 50.0 ? z95 : z05);
}

// ---------------------------------------------------------------------------
// The prediction

SolarCyclePrediction::SolarCyclePrediction(std::vector<PredictionMonth> months)
    : months_(std::move(months)),
      first_index_(std::int64_t{months_.front().year} * 12 + months_.front().month - 1),
      first_day_(CivilDate{months_.front().year, months_.front().month, 1}.to_days()),
      flux_floor_ratio_(least_floor_ratio(months_, [](const PredictionMonth& m) -> const Columns& { return m.f107; }, flux_floor)),
      ap_floor_ratio_(least_floor_ratio(months_, [](const PredictionMonth& m) -> const Columns& { return m.ap; }, ap_floor)) {}

Result<std::unique_ptr<const SolarCyclePrediction>> SolarCyclePrediction::make(std::vector<PredictionMonth> months) {
  if (months.size() < static_cast<std::size_t>(cycle_months)) {
    return DataError::parse(months.back().row, "the prediction holds " + std::to_string(months.size()) +
                                          " months; repeating its last eleven-year cycle needs " +
                                          std::to_string(cycle_months));
  }
  return std::unique_ptr<const SolarCyclePrediction>(new SolarCyclePrediction(std::move(months)));
}

const PredictionMonth& SolarCyclePrediction::entry(std::int64_t month_index) const noexcept {
  const std::int64_t last = first_index_ + static_cast<std::int64_t>(months_.size()) - 1;
  // Past the end, the month that many whole cycles back.
  if (month_index > last) month_index -= cycle_months * ((month_index - last + cycle_months - 1) / cycle_months);
  return months_[static_cast<std::size_t>(month_index - first_index_)];
}

SolarCyclePrediction::Blend SolarCyclePrediction::blend(std::int64_t day) const noexcept {
  const CivilDate date = CivilDate::from_days(day);
  const std::int64_t month_index = std::int64_t{date.year} * 12 + date.month - 1;
  const std::int64_t start = CivilDate{date.year, date.month, 1}.to_days();
  const CivilDate next = date.month == 12 ? CivilDate{date.year + 1, 1, 1} : CivilDate{date.year, static_cast<std::uint8_t>(date.month + 1), 1};
  return {entry(month_index), entry(month_index + 1), static_cast<double>(next.to_days() - start),
          static_cast<double>(day - start)};
}

void SolarCyclePrediction::months_at_midnight(std::int64_t day, Columns& flux, Columns& ap) const noexcept {
  const Blend months = blend(day);
  for (std::size_t c = 0; c < flux.size(); ++c) {
    flux[c] = months.of(months.before.f107[c], months.after.f107[c]);
    ap[c] = months.of(months.before.ap[c], months.after.ap[c]);
  }
}

void SolarCyclePrediction::floored_at_midnight(std::int64_t day, const Percentile& percentile, double& flux,
                                               double& ap) const noexcept {
  const Blend months = blend(day);
  const auto floored_flux = [&](const PredictionMonth& m) { return std::max(percentile.of(m.f107), flux_floor(m)); };
  const auto floored_ap = [&](const PredictionMonth& m) { return std::max(percentile.of(m.ap), ap_floor(m)); };
  flux = months.of(floored_flux(months.before), floored_flux(months.after));
  ap = months.of(floored_ap(months.before), floored_ap(months.after));
}

ForecastValues SolarCyclePrediction::floored_samples(std::int64_t day, double fraction,
                                                     const Percentile& percentile) const noexcept {
  // F at 00:00 of day - 41 .. day + 41: the day before's flux, and the
  // centred means of this day and the next, each summed oldest first.
  constexpr std::int64_t half = mean_half_width;
  std::array<double, 2 * half + 3> flux;
  double ap_today = 0.0, ap_tomorrow = 0.0, unused = 0.0;
  for (std::int64_t k = -half - 1; k <= half + 1; ++k) {
    double& sample = flux[static_cast<std::size_t>(k + half + 1)];
    floored_at_midnight(day + k, percentile, sample, k == 0 ? ap_today : k == 1 ? ap_tomorrow : unused);
  }
  double mean_today = 0.0, mean_tomorrow = 0.0;
  for (std::size_t i = 1; i <= 2 * half + 1; ++i) mean_today += flux[i];
  for (std::size_t i = 2; i <= 2 * half + 2; ++i) mean_tomorrow += flux[i];
  constexpr auto samples = static_cast<double>(2 * half + 1);
  return {lerp(flux[half], flux[half + 1], fraction), lerp(mean_today / samples, mean_tomorrow / samples, fraction),
          lerp(ap_today, ap_tomorrow, fraction)};
}

void SolarCyclePrediction::floored_flux_and_ap(std::int64_t day, double fraction, const Percentile& percentile,
                                               double& flux, double& ap) const noexcept {
  double flux_after, ap_after;
  floored_at_midnight(day, percentile, flux, ap);
  floored_at_midnight(day + 1, percentile, flux_after, ap_after);
  flux = lerp(flux, flux_after, fraction);
  ap = lerp(ap, ap_after, fraction);
}

ForecastSamples SolarCyclePrediction::midnight(std::int64_t day) const noexcept {
  ForecastSamples out{{nan, nan, nan}, {nan, nan, nan}, {}};
  Columns ap_before;
  if (day > first_day_) months_at_midnight(day - 1, out.flux_day_before, ap_before);
  Columns flux;
  months_at_midnight(day, flux, out.ap);
  if (day >= first_full_day()) {
    out.flux_mean81 = centred_mean(day, [&](std::int64_t sample) {
      Columns sample_flux, sample_ap;
      months_at_midnight(sample, sample_flux, sample_ap);
      return sample_flux;
    });
  }
  return out;
}

const ForecastDays& SolarCyclePrediction::days() const {
  std::call_once(days_made_, [&] { days_ = std::make_unique<const ForecastDays>(*this); });
  return *days_;
}

// ---------------------------------------------------------------------------
// The table of midnights

ForecastDays::ForecastDays(const SolarCyclePrediction& prediction) : prediction_(prediction) {
  constexpr std::int64_t cycles_ahead = 5;
  const CivilDate last = prediction.last_month();
  const std::int64_t end_index = std::int64_t{last.year} * 12 + last.month - 1 + cycles_ahead * SolarCyclePrediction::cycle_months;
  const std::int64_t cycles_end =
      CivilDate{static_cast<std::int32_t>(end_index / 12), static_cast<std::uint8_t>(end_index % 12 + 1), 1}.to_days();
  // Past the last day of epochs only the rows that its epochs read (the day
  // after, and the one after that for F(t)); none past max_years.
  const std::int64_t end_day =
      std::min({cycles_end, SolarCyclePrediction::last_day + 3, prediction.first_day() + max_years * 366});
  const auto count = static_cast<std::size_t>(end_day - prediction.first_day());
  const auto day_of = [&](std::size_t i) { return prediction.first_day() + static_cast<std::int64_t>(i); };
  std::vector<Columns> flux(count);
  table_.resize(count);
  for (std::size_t i = 0; i < count; ++i) prediction.months_at_midnight(day_of(i), flux[i], table_[i].ap);
  // The means from the fluxes above: the same samples summed in the same
  // order as midnight() sums them, so the table and the months agree to the bit.
  const std::int64_t half = SolarCyclePrediction::mean_half_width;
  for (std::size_t i = 0; i < count; ++i) {
    const auto offset = static_cast<std::int64_t>(i);
    if (offset < half || offset + half >= static_cast<std::int64_t>(count)) {
      table_[i] = prediction.midnight(day_of(i));
      continue;
    }
    table_[i].flux_day_before = flux[i - 1];
    table_[i].flux_mean81 = centred_mean(offset, [&](std::int64_t j) { return flux[static_cast<std::size_t>(j)]; });
  }
}

ForecastSamples ForecastDays::computed_samples(std::int64_t day, double fraction) const noexcept {
  return lerp(prediction_.midnight(day), prediction_.midnight(day + 1), fraction);
}

void ForecastDays::flux_and_ap(std::int64_t day, double fraction, Columns& flux, Columns& ap) const noexcept {
  // F at 00:00 of a day is the flux of the day before in the next day's row.
  if (const ForecastSamples* today = row(day, 2)) {
    flux = lerp(today[1].flux_day_before, today[2].flux_day_before, fraction);
    ap = lerp(today[0].ap, today[1].ap, fraction);
    return;
  }
  Columns flux_after, ap_after;
  prediction_.months_at_midnight(day, flux, ap);
  prediction_.months_at_midnight(day + 1, flux_after, ap_after);
  flux = lerp(flux, flux_after, fraction);
  ap = lerp(ap, ap_after, fraction);
}

// ---------------------------------------------------------------------------
// MSIS inputs

namespace {

/// An ap element as a mean of `slots` 3-hour slots (1 for a single slot):
/// the sum of those from the CSV, and how many take A(t) instead.
struct SlotMix {
  double csv_sum = 0.0;
  int forecast = 0;
  int slots = 1;

  double value(double forecast_ap) const noexcept {
    if (forecast == slots) return forecast_ap;
    return (csv_sum + forecast * forecast_ap) / slots;
  }
};

/// The sources of ap[1..6] at slot number `g` (8 per day since 1970) when
/// the CSV's daily rows end on `last_daily`: the means add their slots
/// oldest first, as MsisInputs does, so that a mean from the CSV alone is
/// its value to the bit.
std::array<SlotMix, ap_windows.size()> slot_mixes(const MsisInputs& msis, std::int64_t g, std::int64_t last_daily) noexcept {
  const auto add = [&](SlotMix& mix, std::int64_t slot) {
    const std::int64_t day = day_of_slot(slot);
    if (day > last_daily) {
      ++mix.forecast;
    } else {
      mix.csv_sum += msis.ap_of_slot(day, static_cast<int>(slot - 8 * day));
    }
  };
  std::array<SlotMix, ap_windows.size()> mixes;
  for (std::size_t i = 0; i < ap_windows.size(); ++i) {
    const ApWindow& window = ap_windows[i];
    mixes[i].slots = window.slots;
    for (std::int64_t k = window.newest + window.slots - 1; k >= window.newest; --k) add(mixes[i], g - k);
  }
  return mixes;
}

/// What an epoch gives every member: the CSV's inputs, or the prediction's
/// samples (with the CSV's share near its last daily row).
struct MsisEpoch {
  enum class Kind : std::uint8_t {
    not_a_time,  // a row of NaN
    daily,       // the CSV's inputs, the same for every member
    forecast,    // every input from the prediction
    junction,    // within three days of the last daily row: some slots, maybe the flux, from the CSV
  } kind;
  double f107, f107a;
  std::array<double, 7> ap;
  std::uint8_t type;
  ForecastSamples samples;
  std::int64_t day;  // the UTC day and the fraction of it the samples are of
  double fraction;
  std::optional<double> csv_f107;
  std::array<SlotMix, ap_windows.size()> mixes;
  std::optional<std::size_t> tail;  // a daily epoch's 81-day mean left for the prediction
};

/// Fills `epoch` for epoch `e`, or says why it gets no values. Inlined, as
/// emit() is, so that the common epoch's samples stay in registers.
[[gnu::always_inline]] inline std::optional<FailedEpoch> prepare(const MsisInputs& msis,
                                                                 const std::optional<DaySpan>& coverage,
                                                                 const SolarCyclePrediction& prediction,
                                                                 const ForecastDays& days, const Epochs& epochs,
                                                                 std::optional<double> burst_limit, std::size_t e,
                                                                 MsisEpoch& epoch) noexcept {
  if (epochs.ticks[e] == not_a_time) {
    epoch.kind = MsisEpoch::Kind::not_a_time;
    return std::nullopt;
  }
  const auto [day, ticks_in_day] = epochs.clock.split(epochs.ticks[e]);
  const std::optional<EpochFailure> off_rows = outside(coverage, day);
  if (!off_rows) {
    epoch.kind = MsisEpoch::Kind::daily;
    msis.compute({epochs.ticks + e, 1, epochs.clock}, burst_limit,
                 {&epoch.f107, &epoch.f107a, epoch.ap.data(), &epoch.type});
    epoch.tail = msis.tail_of(day);
    return std::nullopt;
  }
  // Past the daily rows the prediction serves; before them, or without them, nothing does.
  if (*off_rows != EpochFailure::after_rows) return FailedEpoch{e, *off_rows};
  if (day < prediction.first_full_day()) {
    // In the prediction's first mean_half_width days an epoch has F and A, but not the centred mean.
    return FailedEpoch{e, day < prediction.first_day() ? EpochFailure::before_prediction : EpochFailure::before_mean};
  }
  if (day > SolarCyclePrediction::last_day) return FailedEpoch{e, EpochFailure::past_last_day};
  epoch.day = day;
  epoch.fraction = epochs.clock.fraction_of_day(ticks_in_day);
  epoch.samples = days.samples(day, epoch.fraction);
  if (day - 3 > coverage->last) {
    epoch.kind = MsisEpoch::Kind::forecast;
    return std::nullopt;
  }
  // The last daily day still feeds the slots of the three days after it,
  // and the previous-day flux of the first.
  epoch.kind = MsisEpoch::Kind::junction;
  epoch.csv_f107 = day - 1 <= coverage->last ? std::optional(msis.previous_day_f107(day, burst_limit)) : std::nullopt;
  epoch.mixes = slot_mixes(msis, 8 * day + slot_of(epochs.clock, ticks_in_day), coverage->last);
  return std::nullopt;
}

/// Writes one output row of `epoch` at `percentile`.
[[gnu::always_inline]] inline void emit(const MsisInputs& msis, const MsisEpoch& epoch, const Percentile& percentile,
                                        const ForecastDays& days, const MsisOutput& out, std::size_t row) noexcept {
  double* const ap = out.ap + 7 * row;
  switch (epoch.kind) {
    case MsisEpoch::Kind::not_a_time:
      out.f107[row] = out.f107a[row] = nan;
      std::fill_n(ap, 7, nan);
      out.data_type[row] = static_cast<std::uint8_t>(F107DataType::unknown);
      return;
    case MsisEpoch::Kind::daily:
      out.f107[row] = epoch.f107;
      out.f107a[row] = epoch.tail ? finish_mean(msis.tails()[*epoch.tail], days, percentile) : epoch.f107a;
      std::copy_n(epoch.ap.begin(), 7, ap);
      out.data_type[row] = epoch.type;
      return;
    case MsisEpoch::Kind::forecast: {
      const ForecastValues values = days.values(epoch.samples, epoch.day, epoch.fraction, percentile);
      out.f107[row] = values.flux_day_before;
      out.f107a[row] = values.flux_mean81;
      std::fill_n(ap, 7, values.ap);
      out.data_type[row] = msfc_data_type;
      return;
    }
    case MsisEpoch::Kind::junction:
      const ForecastValues values = days.values(epoch.samples, epoch.day, epoch.fraction, percentile);
      const double forecast_ap = values.ap;
      out.f107[row] = epoch.csv_f107 ? *epoch.csv_f107 : values.flux_day_before;
      out.f107a[row] = values.flux_mean81;
      ap[0] = forecast_ap;
      for (std::size_t i = 0; i < epoch.mixes.size(); ++i) ap[i + 1] = epoch.mixes[i].value(forecast_ap);
      out.data_type[row] = msfc_data_type;
      return;
  }
}

/// Runs `prepare(e, prepared)` for each epoch and `emit(prepared, percentile,
/// row)` for each of its output rows; stops at the first epoch that fails.
/// A long run goes in two halves, one per thread. With several members the epochs go in blocks, and every member is written
/// over a block before the next, so that a member's rows are written in runs
/// rather than one value per row per epoch.
template <class Prepared, class Prepare, class Emit>
std::optional<FailedEpoch> for_each_row(std::size_t n, const Members& members, const Prepare& prepare,
                                        const Emit& emit) noexcept {
  return in_two_halves(n, [&](std::size_t begin, std::size_t end) noexcept -> std::optional<FailedEpoch> {
    if (members.paired || members.count == 1) {
      Prepared prepared;
      for (std::size_t e = begin; e < end; ++e) {
        if (auto failed = prepare(e, prepared)) return failed;
        emit(prepared, members.percentiles[members.paired ? e : 0], e);
      }
      return std::nullopt;
    }
    constexpr std::size_t block = 32;
    std::array<Prepared, block> prepared;
    for (std::size_t first = begin; first < end; first += block) {
      const std::size_t count = std::min(block, end - first);
      for (std::size_t j = 0; j < count; ++j) {
        if (auto failed = prepare(first + j, prepared[j])) return failed;
      }
      for (std::size_t m = 0; m < members.count; ++m) {
        for (std::size_t j = 0; j < count; ++j) emit(prepared[j], members.percentiles[m], m * n + first + j);
      }
    }
    return std::nullopt;
  }, members.paired ? 1 : members.count);
}

/// F(t) and A(t) of an epoch, or NaN for NaT, and where it falls.
struct FluxAndAp {
  Columns flux, ap;
  bool is_time;
  std::int64_t day;
  double fraction;
};

}  // namespace

std::optional<FailedEpoch> msis_with_forecast(const MsisInputs& msis, const SolarCyclePrediction& prediction,
                                              const ForecastDays& days, const Epochs& epochs,
                                              std::optional<double> burst_limit, const Members& members,
                                              const MsisOutput& out) noexcept {
  const std::optional<DaySpan> coverage = msis.coverage();
  // Inlined by force: left to itself the compiler calls the lambdas, and an
  // epoch's samples make a round trip through memory, a third of its time.
  return for_each_row<MsisEpoch>(
      epochs.count, members,
      [&](std::size_t e, MsisEpoch& epoch) __attribute__((always_inline)) {
        return prepare(msis, coverage, prediction, days, epochs, burst_limit, e, epoch);
      },
      [&](const MsisEpoch& epoch, const Percentile& percentile, std::size_t row) __attribute__((always_inline)) {
        emit(msis, epoch, percentile, days, out, row);
      });
}

double finish_mean(const MeanTail& tail, const ForecastDays& days, const Percentile& percentile) noexcept {
  const SolarCyclePrediction& prediction = days.prediction();
  if (tail.first_missing < prediction.first_day()) return nan;
  double tenths = tail.known_tenths;
  for (std::int64_t day = tail.first_missing; day <= tail.day + SolarCyclePrediction::mean_half_width; ++day) {
    Columns flux, ap;
    days.flux_and_ap(day, 0.0, flux, ap);
    double value = percentile.of(flux);
    if (prediction.floors_flux(percentile)) {
      double floored_ap;
      prediction.floored_flux_and_ap(day, 0.0, percentile, value, floored_ap);
    }
    tenths += 10.0 * value;
  }
  constexpr double window = 2 * SolarCyclePrediction::mean_half_width + 1;
  return std::round(tenths / window) / 10.0;
}

std::vector<double> finish_means(const MsisInputs& msis, const ForecastDays& days, const Percentile& percentile) {
  std::vector<double> means;
  means.reserve(msis.tails().size());
  for (const MeanTail& tail : msis.tails()) means.push_back(finish_mean(tail, days, percentile));
  return means;
}

std::optional<FailedEpoch> forecast_values(const ForecastDays& days, std::int64_t first_day, const Epochs& epochs,
                                           const Members& members, const ForecastOutput& out) noexcept {
  return for_each_row<FluxAndAp>(
      epochs.count, members,
      [&](std::size_t e, FluxAndAp& values) -> std::optional<FailedEpoch> {
        if (epochs.ticks[e] == not_a_time) {
          values.flux = values.ap = {nan, nan, nan};
          values.is_time = false;
          return std::nullopt;
        }
        const auto [day, ticks_in_day] = epochs.clock.split(epochs.ticks[e]);
        if (day < first_day) return FailedEpoch{e, EpochFailure::before_prediction};
        if (day > SolarCyclePrediction::last_day) return FailedEpoch{e, EpochFailure::past_last_day};
        values.is_time = true;
        values.day = day;
        values.fraction = epochs.clock.fraction_of_day(ticks_in_day);
        days.flux_and_ap(day, values.fraction, values.flux, values.ap);
        return std::nullopt;
      },
      [&](const FluxAndAp& values, const Percentile& percentile, std::size_t row) {
        out.f107[row] = percentile.of(values.flux);
        out.ap[row] = percentile.of(values.ap);
        const SolarCyclePrediction& prediction = days.prediction();
        if (!values.is_time) return;
        const bool flux_floored = prediction.floors_flux(percentile), ap_floored = prediction.floors_ap(percentile);
        if (!flux_floored && !ap_floored) [[likely]] return;
        double flux, floored_ap;
        prediction.floored_flux_and_ap(values.day, values.fraction, percentile, flux, floored_ap);
        if (flux_floored) out.f107[row] = flux;
        if (ap_floored) out.ap[row] = floored_ap;
      });
}

}  // namespace sunindex::timeline
