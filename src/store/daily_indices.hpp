#pragma once

#include <array>
#include <optional>

#include "store/civil_date.hpp"

namespace sunindex {

/// The eight 3-hourly values of a day, slot 0 covering 00-03 UT.
using ThreeHourly = std::array<double, 8>;

/// The record of one day. A plain fixed-size value: each optional carries its
/// own presence flag, so an absent value differs from a present NaN, and a
/// 3-hourly array is present or absent as a whole.
struct DailyIndices {
  CivilDate date{};
  std::optional<double> f10_7_obs{};     // observed F10.7, sfu (CelesTrak)
  std::optional<double> f10_7_adj{};     // F10.7 adjusted to 1 AU, sfu (CelesTrak)
  std::optional<double> f10_7_jb{};      // JB2008 F10.7 (SOLFSMY)
  std::optional<double> f10_7_jb_81c{};  // its 81-day centred average (SOLFSMY)
  std::optional<double> ap_daily{};      // daily Ap (CelesTrak)
  std::optional<ThreeHourly> ap_3hr{};   // 3-hourly ap (CelesTrak)
  std::optional<ThreeHourly> kp_3hr{};   // 3-hourly Kp as the file writes it (CelesTrak)
  std::optional<double> s10_7{};         // JB2008 S10.7 (SOLFSMY)
  std::optional<double> m10_7{};         // JB2008 M10.7 (SOLFSMY)
  std::optional<double> y10_7{};         // JB2008 Y10.7 (SOLFSMY)
  std::optional<double> dtc{};           // daily mean of the hourly Dtc, K (DTCFILE)

  /// Takes over, field by field, every value that is absent here and present
  /// in `other`. Present values and the date are never changed.
  constexpr void fill_absent_from(const DailyIndices& other) noexcept {
    take_if_absent(f10_7_obs, other.f10_7_obs);
    take_if_absent(f10_7_adj, other.f10_7_adj);
    take_if_absent(f10_7_jb, other.f10_7_jb);
    take_if_absent(f10_7_jb_81c, other.f10_7_jb_81c);
    take_if_absent(ap_daily, other.ap_daily);
    take_if_absent(ap_3hr, other.ap_3hr);
    take_if_absent(kp_3hr, other.kp_3hr);
    take_if_absent(s10_7, other.s10_7);
    take_if_absent(m10_7, other.m10_7);
    take_if_absent(y10_7, other.y10_7);
    take_if_absent(dtc, other.dtc);
  }

 private:
  template <class T>
  static constexpr void take_if_absent(std::optional<T>& mine, const std::optional<T>& theirs) noexcept {
    if (!mine) mine = theirs;
  }
};

}  // namespace sunindex
