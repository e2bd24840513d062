// libFuzzer target: parse_gfz_kp on arbitrary bytes.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz::check_gfz_kp({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
