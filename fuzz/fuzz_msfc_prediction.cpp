// libFuzzer target: parse_msfc_prediction on arbitrary bytes.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz::check_msfc_prediction({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
