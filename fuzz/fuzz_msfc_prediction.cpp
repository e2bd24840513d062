// libFuzzer target: parse_msfc_prediction on arbitrary bytes.

#include <cmath>

#include "checks.hpp"
#include "readers/msfc_prediction.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  auto result = sunindex::parse_msfc_prediction(data);
  if (!result.ok()) {
    fuzz::require(!result.error().message().empty(), "an error without a message");
    return 0;
  }
  const auto& months = result.value();
  fuzz::require(!months.empty(), "success without a month");
  for (std::size_t i = 0; i < months.size(); ++i) {
    const auto& month = months[i];
    fuzz::require(month.month >= 1 && month.month <= 12, "month out of range");
    for (const double value : month.f107) fuzz::require(std::isfinite(value) && value >= 0.0, "bad F10.7 accepted");
    for (const double value : month.ap) fuzz::require(std::isfinite(value) && value >= 0.0, "bad Ap accepted");
    if (i > 0) {
      const auto& before = months[i - 1];
      fuzz::require(month.row > before.row, "rows out of order");
      fuzz::require(month.year * 12 + month.month == before.year * 12 + before.month + 1, "months not consecutive");
    }
  }
  fuzz::check_numbers_in(data);
  return 0;
}
