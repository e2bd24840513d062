#pragma once

#include <bit>
#include <concepts>

namespace sunindex {

/// The rule that combines rows of one date, the first row winning: every
/// value that `present` lacks and `later` has is taken over, by calling
/// `take(index)` with its bit's index, and the combined presence is
/// returned. A present value, a NaN included, is never replaced. Every
/// record that keeps presence bits combines through this one function.
template <std::unsigned_integral Bits, class Take>
constexpr Bits fill_absent(Bits present, Bits later, Take take) noexcept {
  for (Bits missing = later & static_cast<Bits>(~present); missing != 0;
       missing = static_cast<Bits>(missing & (missing - 1))) {
    take(static_cast<unsigned>(std::countr_zero(missing)));
  }
  return static_cast<Bits>(present | later);
}

}  // namespace sunindex
