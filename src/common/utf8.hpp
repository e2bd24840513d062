#pragma once

// One character in UTF-8: how every native writer turns NumPy's UCS-4 text
// into the bytes Python's str would encode it as.

namespace sunindex {

/// Writes `c` (at most U+10FFFF) as its 1 to 4 UTF-8 bytes at `out`; a
/// surrogate as its three bytes, as CPython's encoder with "surrogatepass".
/// Returns the byte after them.
constexpr char* put_utf8(char* out, char32_t c) noexcept {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | ((c >> 18) & 0x07));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace sunindex
