#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "readers/read_options.hpp"
#include "store/data_error.hpp"
#include "store/daily_indices.hpp"
#include "store/fill_absent.hpp"

namespace sunindex {

/// The columns of a SOLFSMY line that the daily record has no place for.
enum class SolfsmyExtra : std::uint8_t {
  s81c,    // S10.7, 81-day centred
  m81c,    // M10.7, 81-day centred
  y81c,    // Y10.7, 81-day centred
  source,  // Ssrc, one flag per index
};

/// The 81-day centred values and the source flags of a SOLFSMY line, which
/// the daily record has no place for. A value is present where the line gave
/// it, a NaN included, as in the daily record; one the line ends before is
/// absent, a NaN or spaces.
struct SolfsmyRowExtras {
  using Bits = std::uint8_t;

  double s81c;                 // S10.7, 81-day centred
  double m81c;                 // M10.7, 81-day centred
  double y81c;                 // Y10.7, 81-day centred
  std::array<char, 4> source;  // Ssrc, one flag per index, padded with spaces
  Bits present;                // bit per SolfsmyExtra

  static constexpr Bits bit(SolfsmyExtra extra) noexcept { return static_cast<Bits>(1u << static_cast<unsigned>(extra)); }
  constexpr bool has(SolfsmyExtra extra) const noexcept { return (present & bit(extra)) != 0; }
  /// Takes over every value absent here and present in `later`; present
  /// values never change.
  constexpr void fill_absent_from(const SolfsmyRowExtras& later) noexcept {
    present = fill_absent(present, later.present, [&](unsigned index) {
      switch (static_cast<SolfsmyExtra>(index)) {
        case SolfsmyExtra::s81c: s81c = later.s81c; break;
        case SolfsmyExtra::m81c: m81c = later.m81c; break;
        case SolfsmyExtra::y81c: y81c = later.y81c; break;
        case SolfsmyExtra::source: source = later.source; break;
      }
    });
  }
};

/// Reads a SOLFSMY.TXT file (its whole content) into one record per data line,
/// in file order, each with F10.7, F81c, S10.7, M10.7 and Y10.7; or returns the
/// first parse error, naming its row and column.
Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, const ReadOptions& options = {});
/// The same read, which also appends to `extras` one entry per record, in the
/// same order; a bad S81c, M81c, Y81c or Ssrc fails the line like any other value.
Result<std::vector<DailyIndices>> parse_solfsmy(std::string_view content, std::vector<SolfsmyRowExtras>& extras,
                                                 const ReadOptions& options = {});

}  // namespace sunindex
