#pragma once

// How the daily sources become one timeline. Each value of a day comes from
// the most certain source that has it, and among equally certain ones from
// the value's publisher before a redistributor; a value one source lacks
// falls through to the next, value by value (each 3-hour slot on its own).
// The 81-day mean of a day whose flux came from neither the CSV nor the text
// file is computed, centred, from the merged flux.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "readers/celestrak_csv.hpp"
#include "readers/gfz_kp.hpp"
#include "readers/swpc_forecast.hpp"
#include "timeline/large_array.hpp"
#include "timeline/timeline.hpp"

namespace sunindex::timeline {

/// How certain a value is, most certain first.
enum class Certainty : std::uint8_t { observed, interpolated, predicted, monthly, unknown };

/// The kinds of value the precedence tells apart.
enum class ValueClass : std::uint8_t {
  geomagnetic,  // Kp, ap, Ap and the sunspot number
  flux,         // F10.7, observed and adjusted
};

/// The certainty of a value of `kind` in a row of `type`. A CSV or text
/// row's INT describes its flux, so its Kp and ap count as observed; GFZ's
/// days are OBS, or INT where their flux was filled, and SWPC's PRD.
constexpr Certainty certainty(F107DataType type, ValueClass kind) noexcept {
  switch (type) {
    case F107DataType::observed: return Certainty::observed;
    case F107DataType::interpolated: return kind == ValueClass::flux ? Certainty::interpolated : Certainty::observed;
    case F107DataType::predicted_daily: return Certainty::predicted;
    case F107DataType::predicted_monthly: return Certainty::monthly;
    case F107DataType::unknown: break;
  }
  return Certainty::unknown;
}

/// The precedence within a certainty, the one table of it: each kind's daily
/// sources, the most trusted first. GFZ produces Kp and ap, and CelesTrak
/// copies them; CelesTrak fills the flux where DRAO has none; SWPC issues the
/// daily predictions the CSV copies. GFZ is never predicted and SWPC always
/// is, so one order per kind gives both the observed and the predicted order.
inline constexpr std::array<std::array<Source, 4>, 2> trusted_first{{
    {Source::gfz, Source::swpc, Source::csv, Source::txt},  // geomagnetic
    {Source::swpc, Source::csv, Source::txt, Source::gfz},  // flux
}};

/// One daily source's values on each day of the timeline, NaN where absent.
struct DailyLayer {
  Source source;
  const double *f107_obs, *f107_adj, *ap_avg, *sn;
  const double *ap, *kp;  // eight per day, Kp as the CSV writes it
  const F107DataType* type;  // the row's; unknown where the source has no day
  const std::int8_t* kp_status = nullptr;  // GFZ's D flag, -1 where it has no day
};

/// A GFZ or SWPC file's values, laid on the timeline's days.
class OwnedLayer {
 public:
  /// Every value absent, for a timeline of `days` days.
  explicit OwnedLayer(std::size_t days);

  /// Lays GFZ's days (those of several files in order, the first that has
  /// a value giving it) and fills its flux gaps as CelesTrak does: a run of
  /// at most max_filled_days without flux between two days with flux is
  /// linear between them, in tenths rounded half up, and INT.
  void add_gfz(std::span<const GfzDay> days, std::int64_t first_day) noexcept;
  void fill_flux_gaps() noexcept;
  /// Lays a forecast's 45 days, PRD; each 3-hour slot takes the day's Ap.
  void add_swpc(const SwpcForecast& forecast, std::int64_t first_day) noexcept;

  DailyLayer view(Source source) const noexcept;

  static constexpr std::int64_t max_filled_days = 7;

 private:
  std::size_t days_;
  LargeArray<double> f107_obs_, f107_adj_, ap_avg_, sn_, ap_, kp_;
  std::vector<F107DataType> type_;
  std::vector<std::int8_t> kp_status_;
};

/// Where the merge writes, per day of the timeline. The first layer may be
/// these very arrays: each cell is read from every layer before it is written.
struct MergedDays {
  double *f107_obs, *f107_adj, *ap_avg, *sn;
  double *ap, *kp;  // eight per day
  F107DataType* type;
  std::uint8_t *f107_source, *ap_source;  // per day, and eight per day
  std::int8_t* kp_status;
  std::uint8_t* flux_predicted;  // per day: whether its F10.7_OBS is a prediction
};

/// Merges `layers` into `out` over `days` days by the precedence above; a
/// day's type is the least certain of the rows its values came from. Where a
/// daily source has the day, monthly predictions give it nothing.
void merge_layers(std::span<const DailyLayer> layers, std::size_t days, const MergedDays& out) noexcept;

/// The provenance of a timeline with one daily source: `source` wherever a
/// value is present.
void single_source(Source source, std::size_t days, const double* f107_obs, const double* ap, std::uint8_t* f107_source,
                   std::uint8_t* ap_source, std::int8_t* kp_status) noexcept;

/// The 81-day means the merged flux gives: for each day whose flux came from
/// neither the CSV nor the text file, the centred mean of the flux of days
/// D - 40 .. D + 40 rounded to 0.1, NaN where a day of the window has no
/// flux, written into `center81`; `mean_type` is each day's type, raised to
/// PRD where a computed mean took predicted days, and msfc_data_type where
/// its window reaches past the last day of flux. Returns those, for the
/// caller to finish with the prediction.
std::vector<MeanTail> compute_means(std::size_t days, std::int64_t first_day, const MergedDays& merged,
                                    double* center81, std::uint8_t* mean_type);

}  // namespace sunindex::timeline
