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
/// number and its type (OBS where Q is 0 and INT where it is 1-5 in
/// OBSERVED, PRD in DAILY_PREDICTED, PRM in MONTHLY_PREDICTED; in
/// MONTHLY_FIT, PRD for a date among the DAILY_PREDICTED rows' and PRM
/// otherwise). Kp is ten times the index, as the CSV writes it; a blank
/// field is absent (a quiet NaN), and a 3-hourly series with any blank
/// field is absent as a whole, as the CSV reader has them.
struct LegacyText {
  std::vector<DailyIndices> records;
  std::vector<CelestrakRowExtras> extras;
  /// The UPDATED line's instant, microseconds since 1970-01-01 UTC; none
  /// when the header has no UPDATED line.
  std::optional<std::int64_t> updated_us;
};

/// Reads a legacy text file (its whole content), always strictly, whatever
/// `options.strict_structure` says: the header (DATATYPE CssiSpaceWeather,
/// VERSION 1.2, an optional UPDATED stamp, then blank and '#' lines); the
/// sections OBSERVED, DAILY_PREDICTED, MONTHLY_PREDICTED and optionally
/// MONTHLY_FIT, in that order, each NUM_<NAME>_POINTS n, BEGIN <NAME>, n
/// data lines of exactly 130 bytes, END <NAME>, with only blank and '#'
/// lines between them; UTF-8, LF or CR LF line ends, the last line ended;
/// dates valid and rising through the file, MONTHLY_FIT's from the last
/// observed day. Returns the rows, or the first error in the file naming
/// its line (row 0 for an empty text). A text of at least
/// `options.parallel_from_bytes` has its data lines read by two threads,
/// with the same result.
Result<LegacyText> parse_legacy_text(std::string_view content, const ReadOptions& options = {});

}  // namespace sunindex
