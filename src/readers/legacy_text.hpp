#pragma once

// The legacy fixed-width space-weather text file (SW-All.txt,
// SW-Last5Years.txt, SpaceWeather-All-v1.2.txt) in CelesTrak's and AGI's
// dialects: the same rows as the CelesTrak CSV, in sections.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "readers/celestrak_csv.hpp"
#include "readers/read_options.hpp"
#include "store/daily_indices.hpp"
#include "store/data_error.hpp"

namespace sunindex {

/// A legacy text file as the CSV reader gives its rows: one record per data
/// line, in file order, and one extras entry per record with the line's
/// number and its type (OBS or INT from Q in OBSERVED, PRD in
/// DAILY_PREDICTED, PRM in MONTHLY_PREDICTED; in MONTHLY_FIT, PRD for a date
/// among the DAILY_PREDICTED rows' and PRM otherwise). Kp is ten times the
/// index, as the CSV writes it; blank fields are absent.
struct LegacyText {
  std::vector<DailyIndices> records;
  std::vector<CelestrakRowExtras> extras;
  /// The UPDATED line's instant, microseconds since 1970-01-01 UTC.
  std::optional<std::int64_t> updated_us;
};

/// Reads a legacy text file (its whole content), strictly: its header, each
/// section's NUM_..._POINTS count against its lines, lines of the published
/// width. Returns the rows, or the first error naming its line.
Result<LegacyText> parse_legacy_text(std::string_view content, const ReadOptions& options = {});

}  // namespace sunindex
