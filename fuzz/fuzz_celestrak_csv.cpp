// libFuzzer target: parse_celestrak_csv on arbitrary bytes.

#include "checks.hpp"
#include "model.hpp"
#include "readers/celestrak_csv.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  auto result = sunindex::parse_celestrak_csv(data);
  // Fields 0, 1, 4, 5, 6: observed and adjusted F10.7, daily Ap, 3-hourly ap and Kp.
  fuzz::check_result(data, result, /*csv=*/true, {"invalid date"}, 0, {{}, {0, 1, 4, 5, 6}});
  fuzz::model::compare(data, result, fuzz::model::celestrak_csv(data));
  fuzz::check_numbers_in(data);
  return 0;
}
