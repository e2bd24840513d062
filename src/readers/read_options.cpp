#include "readers/read_options.hpp"

namespace sunindex {
namespace {

ScanPath detect_widest_scan_path() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? ScanPath::avx2 : ScanPath::sse2;
#else
  return ScanPath::portable;
#endif
}

}  // namespace

const char* strict_date_fault(const CivilDate& date) noexcept {
  if (date.year < 1 || date.year > 9999) return "year outside 1-9999";
  if (!date.is_calendar_day()) return "invalid date";
  return nullptr;
}

ScanPath widest_scan_path() noexcept {
  static const ScanPath widest = detect_widest_scan_path();
  return widest;
}

}  // namespace sunindex
