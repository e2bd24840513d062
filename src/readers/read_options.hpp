#pragma once

#include <cstddef>
#include <cstdint>

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
};

}  // namespace sunindex
