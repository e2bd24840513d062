// libFuzzer target: parse_celestrak_csv on arbitrary bytes.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz::check_celestrak_csv({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
