#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "store/civil_date.hpp"
#include "store/fill_absent.hpp"

namespace sunindex {

/// The eight 3-hourly values of a day, slot 0 covering 00-03 UT.
using ThreeHourly = std::array<double, 8>;

/// The single values of a day.
enum class Field : std::uint8_t {
  f10_7_obs,     // observed F10.7, sfu (CelesTrak)
  f10_7_adj,     // F10.7 adjusted to 1 AU, sfu (CelesTrak)
  f10_7_jb,      // JB2008 F10.7 (SOLFSMY)
  f10_7_jb_81c,  // its 81-day centred average (SOLFSMY)
  ap_daily,      // daily Ap (CelesTrak)
  s10_7,         // JB2008 S10.7 (SOLFSMY)
  m10_7,         // JB2008 M10.7 (SOLFSMY)
  y10_7,         // JB2008 Y10.7 (SOLFSMY)
  dtc,           // daily mean of the hourly Dtc, K (DTCFILE)
  count,         // not a field
};

/// The 3-hourly series of a day, each present or absent as a whole.
enum class Series : std::uint8_t {
  ap_3hr,  // 3-hourly ap (CelesTrak)
  kp_3hr,  // 3-hourly Kp as the file writes it (CelesTrak)
  count,   // not a series
};

/// The record of one day. A plain fixed-size value: one presence bit per
/// field and series, so an absent value differs from a present NaN, at 216
/// bytes instead of the 296 that one std::optional per field takes. Every
/// store and reader holds tens of thousands of these, so the size is the
/// memory and much of the time of a load.
class DailyIndices {
 public:
  CivilDate date{};

  std::optional<double> get(Field field) const noexcept {
    if (!has(bit(field))) return std::nullopt;
    return values_[static_cast<std::size_t>(field)];
  }
  /// The eight values, or nullptr when the series is absent.
  const ThreeHourly* get(Series series) const noexcept {
    return has(bit(series)) ? &series_[static_cast<std::size_t>(series)] : nullptr;
  }

  void set(Field field, double value) noexcept {
    values_[static_cast<std::size_t>(field)] = value;
    present_ |= bit(field);
  }
  void set(Field field, const std::optional<double>& value) noexcept {
    if (value) set(field, *value);
    else present_ &= static_cast<Bits>(~bit(field));
  }
  void set(Series series, const ThreeHourly& values) noexcept {
    series_[static_cast<std::size_t>(series)] = values;
    present_ |= bit(series);
  }

  /// Takes over, field by field, every value that is absent here and present
  /// in `other`. Present values and the date are never changed.
  constexpr void fill_absent_from(const DailyIndices& other) noexcept {
    present_ = fill_absent(present_, other.present_, [&](unsigned index) {
      if (index < field_count) {
        values_[index] = other.values_[index];
      } else {
        series_[index - field_count] = other.series_[index - field_count];
      }
    });
  }

 private:
  using Bits = std::uint16_t;
  static constexpr std::size_t field_count = static_cast<std::size_t>(Field::count);
  static constexpr Bits bit(Field field) noexcept { return static_cast<Bits>(1u << static_cast<unsigned>(field)); }
  static constexpr Bits bit(Series series) noexcept {
    return static_cast<Bits>(1u << (field_count + static_cast<unsigned>(series)));
  }
  constexpr bool has(Bits mask) const noexcept { return (present_ & mask) != 0; }

  Bits present_ = 0;  // bit per Field, then per Series
  std::array<double, field_count> values_{};
  std::array<ThreeHourly, static_cast<std::size_t>(Series::count)> series_{};
};

}  // namespace sunindex
