#include "timeline/merge.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "timeline/result_fields.hpp"

namespace sunindex::timeline {
namespace {

constexpr double absent = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t half_window = 40;  // days each side of a centred 81-day mean
constexpr std::int64_t window_days = 2 * half_window + 1;

/// Sets `cell` to `value` unless it already has one: of several files of a
/// kind, the first that has a value gives it.
void take_absent(double& cell, double value) noexcept {
  if (std::isnan(cell)) cell = value;
}

/// A flux as a whole number of tenths: every file writes it to 0.1.
std::int64_t tenths(double flux) noexcept { return std::llround(flux * 10.0); }

/// a + (b - a) k / n in tenths, rounded half up, as CelesTrak fills a gap.
double interpolated_tenths(std::int64_t a, std::int64_t b, std::int64_t k, std::int64_t n) noexcept {
  const std::int64_t twice = 2 * (a * (n - k) + b * k);  // twice the value times n
  return static_cast<double>((twice + n) / (2 * n)) / 10.0;
}

/// Fills each run of at most `longest` days without a value in `values`
/// between two days with one, where `has_day` says the source has every day
/// of the run; marks the days filled in `filled`.
template <class HasDay>
void fill_gaps(double* values, std::size_t days, std::size_t longest, const HasDay& has_day,
               std::vector<bool>& filled) {
  std::optional<std::size_t> before;  // the last day with a value
  for (std::size_t i = 0; i < days; ++i) {
    if (std::isnan(values[i])) continue;
    if (before && i - *before - 1 <= longest) {
      bool every_day_given = true;
      for (std::size_t j = *before + 1; j < i; ++j) every_day_given = every_day_given && has_day(j);
      const auto n = static_cast<std::int64_t>(i - *before);
      for (std::size_t j = *before + 1; every_day_given && j < i; ++j) {
        values[j] = interpolated_tenths(tenths(values[*before]), tenths(values[i]), static_cast<std::int64_t>(j - *before), n);
        filled[j] = true;
      }
    }
    before = i;
  }
}

/// Where `source` stands in the precedence of values of `kind`.
constexpr std::size_t place_in(ValueClass kind, Source source) noexcept {
  const auto& order = trusted_first[static_cast<std::size_t>(kind)];
  return static_cast<std::size_t>(std::find(order.begin(), order.end(), source) - order.begin());
}

/// A layer's standing for a value of `kind` on a day: lower is trusted more.
constexpr std::size_t rank(const DailyLayer& layer, std::size_t day, ValueClass kind) noexcept {
  return static_cast<std::size_t>(certainty(layer.type[day], kind)) * trusted_first[0].size() + place_in(kind, layer.source);
}

constexpr std::size_t max_layers = trusted_first[0].size();

/// A day's layers in the order one kind of value is taken from them.
struct Order {
  std::array<const DailyLayer*, max_layers> layers{};
  std::size_t count = 0;
};

Order order_for(std::span<const DailyLayer> layers, std::size_t day, ValueClass kind, bool has_daily_row) noexcept {
  Order order;
  for (const DailyLayer& layer : layers) {
    if (has_daily_row && certainty(layer.type[day], kind) >= Certainty::monthly) continue;
    order.layers[order.count++] = &layer;
  }
  // At most four: an insertion sort, by rank.
  for (std::size_t i = 1; i < order.count; ++i) {
    for (std::size_t j = i; j > 0 && rank(*order.layers[j], day, kind) < rank(*order.layers[j - 1], day, kind); --j) {
      std::swap(order.layers[j], order.layers[j - 1]);
    }
  }
  return order;
}

/// Whether some layer has a daily (not monthly) row of `day`.
bool has_daily_row(std::span<const DailyLayer> layers, std::size_t day) noexcept {
  return std::any_of(layers.begin(), layers.end(), [&](const DailyLayer& layer) {
    return certainty(layer.type[day], ValueClass::flux) < Certainty::monthly;
  });
}

/// The first layer of `order` whose value of `member` at `cell` is present, or none.
const DailyLayer* giver(const Order& order, const double* DailyLayer::*member, std::size_t cell) noexcept {
  for (std::size_t l = 0; l < order.count; ++l) {
    if (!std::isnan((order.layers[l]->*member)[cell])) return order.layers[l];
  }
  return nullptr;
}

/// The code of the source a value came from.
std::uint8_t code_of(const DailyLayer* layer) noexcept {
  return layer ? static_cast<std::uint8_t>(layer->source) : no_source;
}

/// The layers a day took values from, as a set of their indices in the span.
struct Used {
  std::uint8_t bits = 0;
  void add(std::span<const DailyLayer> layers, const DailyLayer* layer) noexcept {
    if (layer) bits |= static_cast<std::uint8_t>(1u << (layer - layers.data()));
  }
};

}  // namespace

OwnedLayer::OwnedLayer(std::size_t days)
    : days_(days),
      f107_obs_(days, absent),
      f107_adj_(days, absent),
      ap_avg_(days, absent),
      sn_(days, absent),
      ap_(8 * days, absent),
      kp_(8 * days, absent),
      type_(days, F107DataType::unknown),
      kp_status_(days, -1) {}

void OwnedLayer::add_gfz(std::span<const GfzDay> days, std::int64_t first_day) noexcept {
  for (const GfzDay& day : days) {
    const auto i = static_cast<std::size_t>(day.date.to_days() - first_day);
    take_absent(f107_obs_[i], day.f107_obs);
    take_absent(f107_adj_[i], day.f107_adj);
    take_absent(ap_avg_[i], day.ap_daily);
    take_absent(sn_[i], day.sn);
    bool gives_kp = false;
    for (std::size_t s = 0; s < 8; ++s) {
      take_absent(ap_[8 * i + s], day.ap[s]);
      if (std::isnan(day.kp[s])) continue;
      take_absent(kp_[8 * i + s], std::round(10.0 * day.kp[s]));  // the CSV's tenths: 2.667 is 27
      gives_kp = true;
    }
    if (gives_kp && kp_status_[i] < 0) kp_status_[i] = static_cast<std::int8_t>(day.definitive);
    type_[i] = F107DataType::observed;
  }
}

void OwnedLayer::fill_flux_gaps() noexcept {
  std::vector<bool> filled(days_, false);
  const auto has_day = [&](std::size_t i) { return type_[i] != F107DataType::unknown; };
  fill_gaps(f107_obs_.data(), days_, static_cast<std::size_t>(max_filled_days), has_day, filled);
  fill_gaps(f107_adj_.data(), days_, static_cast<std::size_t>(max_filled_days), has_day, filled);
  for (std::size_t i = 0; i < days_; ++i) {
    if (filled[i]) type_[i] = F107DataType::interpolated;
  }
}

void OwnedLayer::add_swpc(const SwpcForecast& forecast, std::int64_t first_day) noexcept {
  const std::int64_t start = forecast.first_day.to_days() - first_day;
  for (std::size_t d = 0; d < SwpcForecast::days; ++d) {
    const auto i = static_cast<std::size_t>(start + static_cast<std::int64_t>(d));
    take_absent(f107_obs_[i], forecast.f107[d]);
    take_absent(ap_avg_[i], forecast.ap[d]);
    for (std::size_t s = 0; s < 8; ++s) take_absent(ap_[8 * i + s], forecast.ap[d]);
    type_[i] = F107DataType::predicted_daily;
  }
}

DailyLayer OwnedLayer::view(Source source) const noexcept {
  return {source, f107_obs_.data(), f107_adj_.data(), ap_avg_.data(), sn_.data(), ap_.data(), kp_.data(),
          type_.data(), kp_status_.data()};
}

void merge_layers(std::span<const DailyLayer> layers, std::size_t days, const MergedDays& out) noexcept {
  for (std::size_t i = 0; i < days; ++i) {
    const bool daily = has_daily_row(layers, i);
    const Order flux = order_for(layers, i, ValueClass::flux, daily);
    const Order geomagnetic = order_for(layers, i, ValueClass::geomagnetic, daily);
    Used used;
    // Each value is looked up in every layer before any is written: the
    // first layer may be the output itself.
    const DailyLayer* obs = giver(flux, &DailyLayer::f107_obs, i);
    const DailyLayer* adj = giver(flux, &DailyLayer::f107_adj, i);
    const DailyLayer* ap_avg = giver(geomagnetic, &DailyLayer::ap_avg, i);
    const DailyLayer* sn = giver(geomagnetic, &DailyLayer::sn, i);
    std::array<const DailyLayer*, 8> ap{}, kp{};
    for (std::size_t s = 0; s < 8; ++s) {
      ap[s] = giver(geomagnetic, &DailyLayer::ap, 8 * i + s);
      kp[s] = giver(geomagnetic, &DailyLayer::kp, 8 * i + s);
    }
    const auto value = [&](const DailyLayer* layer, const double* DailyLayer::*member, std::size_t cell) {
      used.add(layers, layer);
      return layer ? (layer->*member)[cell] : absent;
    };
    const F107DataType obs_type = obs ? obs->type[i] : F107DataType::unknown;
    out.f107_obs[i] = value(obs, &DailyLayer::f107_obs, i);
    out.f107_adj[i] = value(adj, &DailyLayer::f107_adj, i);
    out.ap_avg[i] = value(ap_avg, &DailyLayer::ap_avg, i);
    out.sn[i] = value(sn, &DailyLayer::sn, i);
    out.kp_status[i] = -1;
    for (std::size_t s = 0; s < 8; ++s) {
      out.ap[8 * i + s] = value(ap[s], &DailyLayer::ap, 8 * i + s);
      out.kp[8 * i + s] = value(kp[s], &DailyLayer::kp, 8 * i + s);
      out.ap_source[8 * i + s] = code_of(ap[s]);
      if (kp[s] && kp[s]->kp_status) out.kp_status[i] = kp[s]->kp_status[i];
    }
    out.f107_source[i] = code_of(obs);
    out.flux_predicted[i] = certainty(obs_type, ValueClass::flux) == Certainty::predicted;
    F107DataType type = F107DataType::unknown;
    for (std::size_t l = 0; l < layers.size(); ++l) {
      if (used.bits & (1u << l)) type = std::max(type, layers[l].type[i]);
    }
    out.type[i] = type;
  }
}

void single_source(Source source, std::size_t days, const double* f107_obs, const double* ap, std::uint8_t* f107_source,
                   std::uint8_t* ap_source, std::int8_t* kp_status) noexcept {
  const auto code = static_cast<std::uint8_t>(source);
  for (std::size_t i = 0; i < days; ++i) {
    f107_source[i] = std::isnan(f107_obs[i]) ? no_source : code;
    for (std::size_t s = 0; s < 8; ++s) ap_source[8 * i + s] = std::isnan(ap[8 * i + s]) ? no_source : code;
    kp_status[i] = -1;
  }
}

std::vector<MeanTail> compute_means(std::size_t days, std::int64_t first_day, const MergedDays& merged,
                                    double* center81, std::uint8_t* mean_type) {
  // Prefix sums of the flux in tenths, of the days with flux and of those predicted.
  std::vector<std::int64_t> sum(days + 1, 0), with_flux(days + 1, 0), predicted(days + 1, 0);
  std::size_t end_of_flux = 0;  // one past the last day with flux
  for (std::size_t i = 0; i < days; ++i) {
    // A monthly prediction feeds no model input, a mean included.
    const bool has = !std::isnan(merged.f107_obs[i]) && merged.type[i] != F107DataType::predicted_monthly;
    sum[i + 1] = sum[i] + (has ? tenths(merged.f107_obs[i]) : 0);
    with_flux[i + 1] = with_flux[i] + has;
    predicted[i + 1] = predicted[i] + (has && merged.flux_predicted[i]);
    if (has) end_of_flux = i + 1;
  }
  std::vector<MeanTail> tails;
  for (std::size_t i = 0; i < days; ++i) {
    mean_type[i] = static_cast<std::uint8_t>(merged.type[i]);
    const std::uint8_t source = merged.f107_source[i];
    const bool from_row = source == static_cast<std::uint8_t>(Source::csv) || source == static_cast<std::uint8_t>(Source::txt);
    const F107DataType type = merged.type[i];
    if (from_row || type == F107DataType::unknown || type == F107DataType::predicted_monthly) continue;
    center81[i] = absent;
    const auto day = static_cast<std::int64_t>(i);
    if (day < half_window) continue;  // the window reaches before the timeline, where no day has flux
    const auto lo = static_cast<std::size_t>(day - half_window);
    const std::size_t hi = std::max(lo, std::min(i + static_cast<std::size_t>(half_window) + 1, end_of_flux));  // one past
    if (with_flux[hi] - with_flux[lo] != static_cast<std::int64_t>(hi - lo)) continue;
    const std::int64_t known = sum[hi] - sum[lo];
    if (hi - lo < static_cast<std::size_t>(window_days)) {
      tails.push_back({first_day + day, static_cast<double>(known), first_day + static_cast<std::int64_t>(hi)});
      mean_type[i] = msfc_data_type;
      continue;
    }
    // 81 is odd, so a mean of whole tenths never lies halfway: half up is exact.
    center81[i] = static_cast<double>((2 * known + window_days) / (2 * window_days)) / 10.0;
    if (predicted[hi] - predicted[lo] > 0) {
      mean_type[i] = std::max(mean_type[i], static_cast<std::uint8_t>(F107DataType::predicted_daily));
    }
  }
  return tails;
}

}  // namespace sunindex::timeline
