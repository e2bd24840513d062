#pragma once

#include <cstddef>
#include <cstdint>

#include "store/civil_date.hpp"

namespace sunindex {

/// How a reader finds the structure of a text (separators, line ends): 16
/// bytes at a time with SSE2, or eight bytes at a time in plain integer
/// arithmetic. Every path gives the same results; only the speed differs.
enum class ScanPath : std::uint8_t {
  portable,  // 64-bit words, any processor
  sse2,      // 16-byte blocks (every x86-64)
};

/// The widest path this processor runs. SSE2 is part of x86-64 itself, so
/// nothing is detected at run time; 32-byte AVX2 blocks were measured to
/// read SW-All.csv no faster than SSE2's.
constexpr ScanPath widest_scan_path() noexcept {
#if defined(__x86_64__)
  return ScanPath::sse2;
#else
  return ScanPath::portable;
#endif
}

/// How a reader goes about its work; the defaults suit every caller, and
/// the tests and fuzzers use the others to reach every path on small inputs.
struct ReadOptions {
  ScanPath scan_path = widest_scan_path();
  /// A text at least this long is split at a line boundary and its halves
  /// are read by two threads: below it, starting a thread costs more than
  /// it saves.
  std::size_t parallel_from_bytes = 256 * 1024;
  /// Refuse, at its row, what the lenient reading passes over: a line that
  /// is not UTF-8, a CR that does not end a line with LF, a last line with
  /// no line end (a file cut off), a year outside 1-9999, a date that is not
  /// a day of the calendar; in a CSV a header that names a column twice and a
  /// row whose field count differs from the header's; in a fixed-column file
  /// text after the last column. Lenient reads give the same records where
  /// a strict read succeeds.
  bool strict_structure = false;
};

/// Why a strict read refuses a row's date: "year outside 1-9999" (the years
/// a four-digit YYYY writes, and those a calendar date of Python holds) or
/// "invalid date" for a day its month lacks; nullptr for a date it accepts.
inline const char* strict_date_fault(const CivilDate& date) noexcept {
  if (date.year < 1 || date.year > 9999) return "year outside 1-9999";
  if (!date.is_calendar_day()) return "invalid date";
  return nullptr;
}

}  // namespace sunindex
