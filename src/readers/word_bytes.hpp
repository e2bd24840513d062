#pragma once

// Eight bytes at a time in a 64-bit word. Every trick here reads bytes in
// file order through load_word, so that byte i of a word is p[i] and the
// lowest flagged byte is the first one in the text, whatever the machine's
// byte order.

#include <bit>
#include <cstdint>
#include <cstring>

namespace sunindex::word_bytes {

inline constexpr std::uint64_t every_byte = 0x0101010101010101;
inline constexpr std::uint64_t high_bits = every_byte * 0x80;

/// The 8 bytes at `p` as a word whose byte i (bits 8i to 8i + 7) is p[i].
inline std::uint64_t load_word(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

/// The high bit of each byte of `word` equal to `c`, and no other bit.
constexpr std::uint64_t bytes_equal_to(std::uint64_t word, unsigned char c) noexcept {
  const std::uint64_t x = word ^ (every_byte * c);
  // A byte is nonzero when its low seven bits carry into bit 7 or bit 7 is set.
  return ~(((x & ~high_bits) + ~high_bits) | x) & high_bits;
}

/// The high bit of each ASCII digit byte of `word`, and no other bit.
constexpr std::uint64_t digit_bytes(std::uint64_t word) noexcept {
  const std::uint64_t low_bits = word & ~high_bits;  // sums below cannot carry into the next byte
  const std::uint64_t at_least_zero = low_bits + every_byte * (0x80 - '0');
  const std::uint64_t above_nine = low_bits + every_byte * (0x80 - '9' - 1);
  return at_least_zero & ~above_nine & ~word & high_bits;
}

/// The index of the first flagged byte of a nonzero mask of high bits.
constexpr int first_flagged(std::uint64_t mask) noexcept { return std::countr_zero(mask) / 8; }

/// The position of the first byte equal to `c` in [p, end), or end.
inline const char* find_byte(const char* p, const char* const end, unsigned char c) noexcept {
  for (; end - p >= 8; p += 8) {
    if (const std::uint64_t found = bytes_equal_to(load_word(p), c)) return p + first_flagged(found);
  }
  while (p != end && static_cast<unsigned char>(*p) != c) ++p;
  return p;
}

}  // namespace sunindex::word_bytes
