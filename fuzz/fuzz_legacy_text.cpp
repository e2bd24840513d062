// libFuzzer target: parse_legacy_text on arbitrary bytes.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  fuzz::check_legacy_text({reinterpret_cast<const char*>(bytes), size});
  return 0;
}
