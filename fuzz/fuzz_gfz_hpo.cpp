// libFuzzer target: parse_gfz_hpo on arbitrary bytes, read as Hp30 and as Hp60.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz::check_gfz_hpo({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
