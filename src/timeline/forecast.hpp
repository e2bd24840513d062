#pragma once

// Values past the CSV's daily rows from a solar-cycle prediction. Each month's
// entry holds at 00:00 UTC on its 1st, and values are linear in time between
// entries; past the last month the last 132 months (the last eleven-year
// cycle) repeat. Every sample an input takes (F one day back, A now, the 81
// daily samples of the centred mean) crosses a month boundary at the same
// 00:00 instant, so each is linear within a UTC day: a table of its value at
// each 00:00 gives it at any instant, with no 81-term sum per epoch.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "readers/msfc_prediction.hpp"
#include "store/civil_date.hpp"
#include "store/data_error.hpp"
#include "timeline/large_array.hpp"
#include "timeline/model_inputs.hpp"

namespace sunindex::timeline {

/// A quantity at the 95th, 50th and 5th percentiles, in that order.
using Columns = std::array<double, 3>;

/// The standard normal quantile: z with P(Z <= z) = p, for 0 < p < 1, within
/// a few units in the last place. z(0.95) = 1.6448536269514722.
double standard_normal_quantile(double p) noexcept;

/// One percentile of the prediction: the published column at 95, 50 and 5;
/// elsewhere the split normal through the three columns, P50 + (z(q) / z(0.95))
/// (P95 - P50) above 50 and P50 + (z(q) / z(0.05)) (P5 - P50) below.
class Percentile {
 public:
  /// `q` in (0, 100), which the caller checks.
  explicit Percentile(double q) noexcept;

  double of(const Columns& columns) const noexcept {
    if (exact_) return columns[side_];
    return columns[1] + ratio_ * (columns[side_] - columns[1]);
  }
  /// Whether this is a split normal below 50 % reaching further than `ratio`
  /// times the distance from the 50th to the 5th percentile.
  bool reaches_beyond(double ratio) const noexcept { return !exact_ && side_ == 2 && ratio_ > ratio; }

 private:
  bool exact_ = true;
  std::size_t side_ = 1;  // the published column used, or the far one of the split normal
  double ratio_ = 0.0;
};

/// Every sample of an instant, at all three percentiles.
struct ForecastSamples {
  Columns flux_day_before;  // F(t - 1 day)
  Columns flux_mean81;      // the mean of F(t + k days), k = -40 .. 40
  Columns ap;               // A(t)
};

/// An instant's samples at one percentile.
struct ForecastValues {
  double flux_day_before, flux_mean81, ap;
};

/// a at fraction 0, b at 1: exactly a at the 00:00 a table holds.
inline Columns lerp(const Columns& a, const Columns& b, double fraction) noexcept {
  Columns out;
  for (std::size_t c = 0; c < out.size(); ++c) out[c] = a[c] + fraction * (b[c] - a[c]);
  return out;
}
inline ForecastSamples lerp(const ForecastSamples& a, const ForecastSamples& b, double fraction) noexcept {
  return {lerp(a.flux_day_before, b.flux_day_before, fraction), lerp(a.flux_mean81, b.flux_mean81, fraction),
          lerp(a.ap, b.ap, fraction)};
}

/// A prediction's months, and its values at any instant from its first month on.
class SolarCyclePrediction {
 public:
  static constexpr std::int64_t cycle_months = 132;  // repeated past the last month
  static constexpr std::int64_t mean_half_width = 40;  // days each side of the centred mean
  /// The last day the cycle is repeated to, 9999-12-31: the calendar's
  /// arithmetic stays exact well past it, and no study reaches it.
  static constexpr std::int64_t last_day = CivilDate{9999, 12, 31}.to_days();

  /// The prediction of `months` (consecutive, as the reader gives them), or an
  /// error at the last one's row when there are fewer than cycle_months to
  /// repeat. Made once and never moved: the day table refers to it.
  static Result<std::unique_ptr<const SolarCyclePrediction>> make(std::vector<PredictionMonth> months);

  /// The 1st of the first and of the last month.
  CivilDate first_month() const noexcept { return {months_.front().year, months_.front().month, 1}; }
  CivilDate last_month() const noexcept { return {months_.back().year, months_.back().month, 1}; }
  /// The first day the prediction gives a value on: the first month's 1st.
  std::int64_t first_day() const noexcept { return first_day_; }
  /// The first day whose every instant has the centred mean's samples: 40
  /// days later.
  std::int64_t first_full_day() const noexcept { return first_day_ + mean_half_width; }

  /// The samples at 00:00 of `day` (from first_day()), from the months
  /// alone; NaN for the flux of the day before first_day() and for the mean
  /// before first_full_day().
  ForecastSamples midnight(std::int64_t day) const noexcept;
  /// F and A at 00:00 of `day` (from first_day()).
  void months_at_midnight(std::int64_t day, Columns& flux, Columns& ap) const noexcept;

  /// Whether some month's F10.7 or Ap at `percentile` lies below its floor.
  /// Far below the 5th percentile the split normal leaves physics (negative
  /// Ap, and F10.7 below the quiet Sun's), so each month's value is held at
  /// max(v, min(64, P5)) for F10.7 and max(v, min(0, P5)) for Ap before
  /// interpolating in time; the published columns stay exact.
  bool floors_flux(const Percentile& percentile) const noexcept { return percentile.reaches_beyond(flux_floor_ratio_); }
  bool floors_ap(const Percentile& percentile) const noexcept { return percentile.reaches_beyond(ap_floor_ratio_); }
  /// The samples at `fraction` of `day` (from first_full_day()) at
  /// `percentile`, each month's value held at its floor first.
  ForecastValues floored_samples(std::int64_t day, double fraction, const Percentile& percentile) const noexcept;
  /// F(t) and A(t) at `fraction` of `day` (from first_day()) likewise.
  void floored_flux_and_ap(std::int64_t day, double fraction, const Percentile& percentile, double& flux,
                           double& ap) const noexcept;

  /// The table of midnights, made on the first call (std::bad_alloc is the
  /// only failure; a later call tries again); thread-safe.
  const class ForecastDays& days() const;

 private:
  explicit SolarCyclePrediction(std::vector<PredictionMonth> months);
  const PredictionMonth& entry(std::int64_t month_index) const noexcept;
  /// The entries before and after 00:00 of `day`, and its place between them.
  struct Blend {
    const PredictionMonth& before;
    const PredictionMonth& after;
    double length, into;  // days from before's 1st to after's, and to `day`
    // v0 (t1 - t) / (t1 - t0) + v1 (t - t0) / (t1 - t0), in days rather than seconds: the same ratios.
    double of(double v0, double v1) const noexcept { return v0 * (length - into) / length + v1 * into / length; }
  };
  Blend blend(std::int64_t day) const noexcept;
  /// F and A at 00:00 of `day` at `percentile`, each month held at its floor.
  void floored_at_midnight(std::int64_t day, const Percentile& percentile, double& flux, double& ap) const noexcept;

  std::vector<PredictionMonth> months_;
  std::int64_t first_index_;  // months since year 0 of the first entry
  std::int64_t first_day_;
  // The least ratio (P50 - floor) / (P50 - P5) among the months: a percentile
  // that reaches no further keeps every month above its floor.
  double flux_floor_ratio_, ap_floor_ratio_;
  mutable std::once_flag days_made_;
  mutable std::unique_ptr<const ForecastDays> days_;
};

/// The prediction's samples at each midnight from its first day to some 55
/// years past its last month, where nearly every epoch falls, and at most
/// about max_years long and to the last day of epochs; later ones are computed from
/// the months each time, slower but the same. An epoch's
/// samples lie between the rows of its day and the next, side by side.
class ForecastDays {
 public:
  /// Bounds the table (72 bytes a day) whatever the prediction's span.
  static constexpr std::int64_t max_years = 200;

  explicit ForecastDays(const SolarCyclePrediction& prediction);

  /// The samples at `fraction` (in [0, 1)) of `day`, from first_full_day() on.
  ForecastSamples samples(std::int64_t day, double fraction) const noexcept {
    if (const ForecastSamples* today = row(day, 1)) return lerp(today[0], today[1], fraction);
    return computed_samples(day, fraction);
  }
  /// F(t) and A(t) at `fraction` of `day`, from first_day() on.
  void flux_and_ap(std::int64_t day, double fraction, Columns& flux, Columns& ap) const noexcept;

  /// The samples of `day` and `fraction` at `percentile`: the split normal of
  /// the columns, or the floored months where a floor may bind.
  ForecastValues values(const ForecastSamples& samples, std::int64_t day, double fraction,
                        const Percentile& percentile) const noexcept {
    ForecastValues out{percentile.of(samples.flux_day_before), percentile.of(samples.flux_mean81), percentile.of(samples.ap)};
    const bool flux_floored = prediction_.floors_flux(percentile), ap_floored = prediction_.floors_ap(percentile);
    if (!flux_floored && !ap_floored) [[likely]] return out;
    const ForecastValues floored = prediction_.floored_samples(day, fraction, percentile);
    if (flux_floored) out.flux_day_before = floored.flux_day_before, out.flux_mean81 = floored.flux_mean81;
    if (ap_floored) out.ap = floored.ap;
    return out;
  }
  const SolarCyclePrediction& prediction() const noexcept { return prediction_; }

 private:
  /// samples() of a day past the table, from the months.
  ForecastSamples computed_samples(std::int64_t day, double fraction) const noexcept;
  /// The row of `day`, when it and the `later` days after it are in the table.
  const ForecastSamples* row(std::int64_t day, std::int64_t later) const noexcept {
    const std::int64_t i = day - prediction_.first_day();
    if (i < 0 || i + later >= static_cast<std::int64_t>(table_.size())) return nullptr;
    return &table_[static_cast<std::size_t>(i)];
  }

  const SolarCyclePrediction& prediction_;
  LargeArray<ForecastSamples> table_;  // from the prediction's first day
};

/// The percentiles of a call: one per member, or one per epoch (`paired`).
struct Members {
  const Percentile* percentiles;
  std::size_t count;
  bool paired;  // percentiles[e] goes with epoch e; else every member with every epoch
};

/// The prediction alone at an epoch, X(key, element, width).
#define SUNINDEX_FORECAST_FIELDS(X) \
  X(f107, float64, 1) /* F(t) */ \
  X(ap, float64, 1)   /* A(t) */

/// Where forecast_values() writes, rows as in msis_with_forecast.
struct ForecastOutput {
  SUNINDEX_FORECAST_FIELDS(SUNINDEX_FIELD_POINTER)
};
inline constexpr std::array forecast_fields{SUNINDEX_FORECAST_FIELDS(SUNINDEX_FIELD)};

/// MSIS inputs past the CSV's daily rows, into rows member-major ((members,
/// epochs), or one per epoch when paired). Each input takes its best source
/// for the time it refers to: up to the last daily day L, the CSV exactly as
/// MsisInputs gives it; after, the prediction: f107 = F(t - 1 day) once the
/// day before lies after L, f107a the mean of F(t + k days), k = -40 .. 40,
/// ap[0] = A(t), and each 3-hour slot after L takes A(t), the means of eight
/// slots mixing sources slot by slot. data_type is msfc_data_type wherever
/// the prediction was used. An 81-day mean left for the prediction is
/// finished at each member's percentile. `days` is `prediction`'s. Returns the first epoch
/// that got no values, where it stops, and why; or none.
std::optional<FailedEpoch> msis_with_forecast(const MsisInputs& msis, const SolarCyclePrediction& prediction,
                                              const ForecastDays& days, const Epochs& epochs,
                                              std::optional<double> burst_limit, const Members& members,
                                              const MsisOutput& out) noexcept;

/// The 81-day mean `tail` left for the prediction: each day of its window
/// past the last day of flux takes F(day 00:00) at `percentile`, floored as
/// every value of the prediction is, and the mean is rounded to 0.1 as a
/// mean of the flux is; NaN where such a day lies before the prediction's first.
double finish_mean(const MeanTail& tail, const ForecastDays& days, const Percentile& percentile) noexcept;
/// Every one of msis.tails() finished at `percentile`, in order.
std::vector<double> finish_means(const MsisInputs& msis, const ForecastDays& days, const Percentile& percentile);

/// F(t) and A(t) from the prediction alone, rows as in msis_with_forecast.
/// Fails at the first epoch before `first_day`.
std::optional<FailedEpoch> forecast_values(const ForecastDays& days, std::int64_t first_day, const Epochs& epochs,
                                           const Members& members, const ForecastOutput& out) noexcept;

}  // namespace sunindex::timeline
