#pragma once

// Where the comma-separated fields of a line end, found a block of bytes at
// a time. Every path gives the same ends; each is inline so that a row loop
// built for a path inlines its scan.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "readers/read_options.hpp"
#include "readers/word_bytes.hpp"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace sunindex::field_scan {

/// Where a line's fields end: ends[i] is the offset from the line's start of
/// the comma after field i, or the line's length for its last field.
struct FieldEnds {
  std::size_t* ends;
  std::size_t wanted;  // how many fields the caller reads; the scan stops there
};

namespace detail {

/// Records the commas of one block, given as a bit per byte (bit i for the
/// byte at `offset` + i); false once `wanted` fields are found.
template <class Mask>
[[gnu::always_inline]] inline bool take_commas(Mask commas, std::size_t offset, FieldEnds out,
                                               std::size_t& found) noexcept {
  for (; commas != 0; commas &= commas - 1) {
    out.ends[found++] = offset + static_cast<std::size_t>(std::countr_zero(commas));
    if (found == out.wanted) return false;
  }
  return true;
}

/// The commas of the line from offset `from` on, one byte at a time (the
/// tail a block cannot cover without reading past the buffer), then the end
/// of the line as the end of its last field.
[[gnu::always_inline]] inline std::size_t finish_bytewise(std::string_view line, std::size_t from, FieldEnds out,
                                                          std::size_t found) noexcept {
  for (std::size_t i = from; i < line.size(); ++i) {
    if (line[i] == ',') {
      out.ends[found++] = i;
      if (found == out.wanted) return found;
    }
  }
  out.ends[found++] = line.size();
  return found;
}

/// A mask of the low `n` bits (all of them from the mask's width on).
template <class Mask>
constexpr Mask low_bits(std::size_t n) noexcept {
  return n >= sizeof(Mask) * 8 ? ~Mask{0} : static_cast<Mask>((Mask{1} << n) - 1);
}

}  // namespace detail

/// The ends of the first `out.wanted` (at least 1) fields of `line`, or of
/// all its fields when it has fewer; returns how many were found. Blocks are
/// read up to `readable_end`, the end of the buffer `line` lies in (never
/// beyond it); bytes past the line are read but never taken.
template <ScanPath path>
std::size_t find_field_ends(std::string_view line, const char* readable_end, FieldEnds out) noexcept;

template <>
[[gnu::always_inline]] inline std::size_t find_field_ends<ScanPath::portable>(std::string_view line,
                                                                              const char* readable_end,
                                                                              FieldEnds out) noexcept {
  std::size_t found = 0, offset = 0;
  const char* const start = line.data();
  for (; offset < line.size() && readable_end - (start + offset) >= 8; offset += 8) {
    std::uint64_t zero_bytes = word_bytes::bytes_equal_to(word_bytes::load_word(start + offset), ',');
    zero_bytes &= detail::low_bits<std::uint64_t>(8 * (line.size() - offset));
    // The eight high bits gathered into one byte, bit i for byte i, so that
    // take_commas counts bytes as the vector paths do.
    const auto commas = static_cast<std::uint8_t>(((zero_bytes >> 7) * 0x0102040810204080ULL) >> 56);
    if (!detail::take_commas(commas, offset, out, found)) return found;
  }
  return detail::finish_bytewise(line, offset, out, found);
}

#if defined(__x86_64__)
template <>
[[gnu::always_inline]] inline std::size_t find_field_ends<ScanPath::sse2>(std::string_view line,
                                                                          const char* readable_end,
                                                                          FieldEnds out) noexcept {
  const __m128i commas = _mm_set1_epi8(',');
  std::size_t found = 0, offset = 0;
  const char* const start = line.data();
  for (; offset < line.size() && readable_end - (start + offset) >= 16; offset += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + offset));
    auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, commas)));
    mask &= detail::low_bits<std::uint32_t>(line.size() - offset);
    if (!detail::take_commas(mask, offset, out, found)) return found;
  }
  return detail::finish_bytewise(line, offset, out, found);
}
#endif

}  // namespace sunindex::field_scan
