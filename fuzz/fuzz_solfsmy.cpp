// libFuzzer target: parse_solfsmy on arbitrary bytes.

#include "checks.hpp"
#include "model.hpp"
#include "readers/solfsmy.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  auto result = sunindex::parse_solfsmy(data);
  // Fields 2, 3, 7, 8, 9: F10.7 and F81c of JB2008, S10.7, M10.7, Y10.7.
  fuzz::check_result(data, result, /*csv=*/false,
                     {"invalid utf-8", "line too short", "year", "doy", "invalid day-of-year", "F10.7", "F81c",
                      "S10.7", "M10.7", "Y10.7"},
                     64, {{2, 3, 7, 8, 9}, {}});
  fuzz::model::compare(data, result, fuzz::model::solfsmy(data));
  fuzz::check_paths_agree<sunindex::SolfsmyRowExtras>(
      data, result, [](std::string_view d, const sunindex::ReadOptions& o) { return sunindex::parse_solfsmy(d, o); },
      [](std::string_view d, auto& extras, const sunindex::ReadOptions& o) { return sunindex::parse_solfsmy(d, extras, o); },
      [](const auto& a, const auto& b) {
    const double x[3] = {a.s81c, a.m81c, a.y81c}, y[3] = {b.s81c, b.m81c, b.y81c};
    return std::memcmp(x, y, sizeof x) == 0 && a.source == b.source;
  });
  fuzz::check_numbers_in(data);
  fuzz::check_word_readers(data);
  return 0;
}
