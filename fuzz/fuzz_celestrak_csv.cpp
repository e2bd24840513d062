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
  fuzz::check_paths_agree<sunindex::CelestrakRowExtras>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_celestrak_csv(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_celestrak_csv(d, extras, o); },
      [](const auto& a, const auto& b) {
    return std::memcmp(a.values.data(), b.values.data(), sizeof a.values) == 0 && a.data_type == b.data_type &&
           a.row == b.row;
  });
  fuzz::check_numbers_in(data);
  fuzz::check_word_readers(data);
  return 0;
}
