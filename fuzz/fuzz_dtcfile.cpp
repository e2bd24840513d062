// libFuzzer target: parse_dtcfile on arbitrary bytes.

#include <cmath>

#include "checks.hpp"
#include "model.hpp"
#include "readers/dtcfile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  auto result = sunindex::parse_dtcfile(data);
  // Field 10: dtc, the mean of 24 integers of four characters, so 24 * dtc is
  // an integer within 24 * [-999, 9999].
  fuzz::check_result(data, result, /*csv=*/false,
                     {"invalid utf-8", "line too short", "year", "doy", "invalid day-of-year", "Dtc"}, 109,
                     {{10}, {}});
  if (result.ok()) {
    for (const auto& record : result.value()) {
      const double sum = *record.get(sunindex::Field::dtc) * 24.0;
      fuzz::require(std::nearbyint(sum) == sum && sum >= -24.0 * 999 && sum <= 24.0 * 9999, "dtc not a mean of 24 hours");
    }
  }
  fuzz::model::compare(data, result, fuzz::model::dtcfile(data));
  fuzz::check_paths_agree<sunindex::HourlyDtc>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_dtcfile(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_dtcfile(d, extras, o); },
      [](const auto& a, const auto& b) { return std::memcmp(a.data(), b.data(), sizeof a) == 0; });
  fuzz::check_numbers_in(data);
  fuzz::check_word_readers(data);
  return 0;
}
