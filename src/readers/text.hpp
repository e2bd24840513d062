#pragma once

// Text rules shared by every reader: UTF-8 validation, Unicode White_Space
// trimming, the line walk and the number syntaxes. None of these throws or
// allocates.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "readers/word_bytes.hpp"

namespace sunindex::text {

/// True when `bytes` is well-formed UTF-8 (RFC 3629: no overlong forms, no
/// surrogates, nothing above U+10FFFF, no truncated sequence).
bool is_valid_utf8(std::string_view bytes) noexcept;

/// trim() for text that begins or ends with a non-ASCII byte.
std::string_view trim_slow(std::string_view s) noexcept;
/// trim_front() for text that begins with a non-ASCII byte.
std::string_view trim_front_slow(std::string_view s) noexcept;

constexpr bool is_ascii_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// `s` without leading and trailing White_Space characters (U+0009-U+000D,
/// U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
/// U+205F, U+3000). U+FEFF is not white space and stays.
inline std::string_view trim(std::string_view s) noexcept {
  // ASCII white space inline, since fixed-width fields are padded with
  // spaces; only a non-ASCII byte at an end needs the full character set.
  while (!s.empty() && is_ascii_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_ascii_space(s.back())) s.remove_suffix(1);
  if (!s.empty() && (static_cast<signed char>(s.front()) < 0 || static_cast<signed char>(s.back()) < 0)) {
    return trim_slow(s);
  }
  return s;
}

/// `s` without its leading White_Space characters (those trim() removes).
inline std::string_view trim_front(std::string_view s) noexcept {
  while (!s.empty() && is_ascii_space(s.front())) s.remove_prefix(1);
  if (!s.empty() && static_cast<signed char>(s.front()) < 0) return trim_front_slow(s);
  return s;
}

/// Walks the lines of a text. A line ends at LF; the LF and one CR directly
/// before it are dropped. Text after the last LF is a last line if not empty.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) noexcept : rest_(text) {}

  /// Moves to the next line; false at the end of the text.
  bool next(std::string_view& line) noexcept;

  /// 1-based number of the line last returned by next().
  std::uint64_t line_number() const noexcept { return line_number_; }

  /// The text after the line last returned by next().
  std::string_view rest() const noexcept { return rest_; }

 private:
  std::string_view rest_;
  std::uint64_t line_number_ = 0;
};

/// A line that breaks a rule of the text as a whole, which a strict read
/// finds before it reads any row.
struct LineFault {
  std::size_t offset;         // where the line starts in the text
  std::uint64_t line_number;  // 1-based, as LineCursor counts
  const char* message;
};

/// The first line of `text` that is not UTF-8 ("invalid utf-8"), holds a CR
/// other than the one before its LF (a file with CR line ends), or is a last
/// line without an LF (a file cut off); none when every line keeps these
/// rules, as an empty text does. A text that keeps them costs one pass.
std::optional<LineFault> first_line_fault(std::string_view text) noexcept;

/// A plain decimal read from the front of a text: an optional '-', then
/// digits with at most one point, up to the first other byte (`stop`).
struct ShortDecimal {
  const char* stop;
  std::uint64_t mantissa;  // the digits without the point (meaningful up to 15 digits)
  int digits;
  int fraction_digits;
  bool negative;

  /// Whether the digits fix the value exactly as mantissa / 10^fraction_digits:
  /// at most 15 digits stay below 2^53 and 10^15 is exact, so one correctly
  /// rounded division gives the nearest double.
  bool exact() const noexcept { return digits > 0 && digits <= 15; }
  double value() const noexcept;
};

/// Scans a ShortDecimal from `p`; never reads at or beyond `end`.
inline ShortDecimal scan_short_decimal(const char* p, const char* const end) noexcept {
  // Locals, not the struct's fields, so that the loop runs in registers.
  const bool negative = p != end && *p == '-';
  p += negative;
  std::uint64_t mantissa = 0;
  int digits = 0, fraction_digits = 0;
  bool seen_point = false;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit < 10) {
      mantissa = mantissa * 10 + digit;
      ++digits;
      fraction_digits += seen_point;
    } else if (*p == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  return {p, mantissa, digits, fraction_digits, negative};
}

namespace detail {
/// Powers of ten that a double holds exactly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
/// parse_number for everything but short plain decimals.
std::optional<double> parse_number_general(std::string_view s) noexcept;
}  // namespace detail

/// mantissa / 10^fraction_digits, negated when `negative`: the value of a
/// short decimal, which every fast path computes this one way so that they
/// all agree to the bit (fraction_digits at most 22).
constexpr double short_decimal_value(std::uint64_t mantissa, int fraction_digits, bool negative) noexcept {
  const double magnitude = static_cast<double>(mantissa) / detail::exact_powers_of_ten[fraction_digits];
  return negative ? -magnitude : magnitude;
}

inline double ShortDecimal::value() const noexcept {
  return short_decimal_value(mantissa, fraction_digits, negative);
}

/// The decimal number syntax of every float field: optional sign, then digits
/// with at most one '.' and at least one digit, optional exponent (e/E,
/// optional sign, digits); or "inf", "infinity", "nan" in any case. The whole
/// of `s` must match. Returns the nearest double (ties to even), an infinity
/// of the number's sign on overflow and a zero of its sign on underflow.
inline std::optional<double> parse_number(std::string_view s) noexcept {
  const ShortDecimal scan = scan_short_decimal(s.data(), s.data() + s.size());
  if (scan.stop == s.data() + s.size() && scan.exact()) return scan.value();
  return detail::parse_number_general(s);
}

/// An optional '+', then one or more ASCII digits, nothing else, value <= max
/// (max at most 2^32). Inline: the fixed-column files are mostly integers.
inline std::optional<std::uint64_t> parse_unsigned(std::string_view s, std::uint64_t max) noexcept {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  // Checking against max after every digit keeps the value below 10 * max
  // + 9, which cannot wrap for the limits above.
  std::uint64_t value = 0;
  for (const char c : s) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    if (digit >= 10) return std::nullopt;
    value = value * 10 + digit;
    if (value > max) return std::nullopt;
  }
  return value;
}

/// An optional '+' or '-', then one or more ASCII digits, nothing else,
/// fitting a signed 32-bit integer.
inline std::optional<std::int32_t> parse_int32(std::string_view s) noexcept {
  const bool negative = !s.empty() && s.front() == '-';
  if (negative) {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '+') return std::nullopt;  // a second sign
  }
  constexpr std::uint64_t max_positive = 2147483647;
  const auto magnitude = parse_unsigned(s, negative ? max_positive + 1 : max_positive);
  if (!magnitude) return std::nullopt;
  const auto value = static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

// Fixed-width fields, eight bytes at a time. A field of 1 to 8 bytes is
// read as one 64-bit word from its first byte, so the caller must be able to
// read 8 bytes from there (the bytes past the field are ignored). These
// readers answer only for the right-aligned plain forms that published files
// use; "no answer" (nullopt) means "ask the general parser of the trimmed
// field", which then accepts or refuses the field exactly as it would have
// without them.

namespace detail {

using word_bytes::bytes_equal_to;
using word_bytes::digit_bytes;
using word_bytes::every_byte;
using word_bytes::high_bits;
using word_bytes::load_word;

/// The value of the digit bytes of `word`, byte 0 the most significant and
/// every other byte counting as a leading zero: up to 8 digits.
constexpr std::uint32_t eight_digits_value(std::uint64_t word, std::uint64_t digits) noexcept {
  std::uint64_t v = word & (digits >> 7) * 0x0F;
  // Pairs, then fours, then all eight, each step in place.
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (std::uint64_t{1000000} << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (std::uint64_t{10000} << 32)))) >> 32;
  return static_cast<std::uint32_t>(v);
}

/// The digits of a field, without its point, as one integer.
struct FieldDigits {
  std::uint32_t mantissa;  // at most 8 digits
  int fraction_digits;     // digits after the point
  bool negative;
};

/// Reads the `width` (1 to 8) bytes at `field`: ASCII spaces, an optional
/// '-', then digits (with at most one '.' among them when `allow_point`)
/// up to a digit in the last byte. Nothing for any other field.
template <bool allow_point>
[[gnu::always_inline]] inline std::optional<FieldDigits> scan_right_aligned(const char* field,
                                                                           std::size_t width) noexcept {
  // The field's last byte goes to the top; spaces fill the bytes below it.
  std::uint64_t word = load_word(field);
  if (width < 8) word = (word << (8 * (8 - width))) | (every_byte * ' ' >> (8 * width));

  const std::uint64_t digits = digit_bytes(word);
  const std::uint64_t spaces = bytes_equal_to(word, ' ');
  const std::uint64_t minus = bytes_equal_to(word, '-');
  const std::uint64_t point = allow_point ? bytes_equal_to(word, '.') : 0;
  const std::uint64_t number = ~spaces & high_bits;
  // Only these bytes; a digit last; nothing of the number directly before a
  // space or a '-' (so the spaces lead and the '-' opens the number); one
  // point at most.
  if ((spaces | digits | minus | point) != high_bits || (digits >> 63) == 0 ||
      ((number << 8) & (spaces | minus)) != 0 || (point & (point - 1)) != 0) {
    return std::nullopt;
  }
  int fraction_digits = 0;
  if (allow_point && point != 0) {
    // Moving the bytes before the point up over it joins the digits.
    const std::uint64_t before_point = (point >> 7) - 1;
    fraction_digits = 7 - std::countr_zero(point) / 8;
    word = ((word & before_point) << 8) | (word & ~before_point << 8);
    const std::uint64_t joined = ((digits & before_point) << 8) | (digits & ~before_point);
    return FieldDigits{eight_digits_value(word, joined), fraction_digits, minus != 0};
  }
  return FieldDigits{eight_digits_value(word, digits), fraction_digits, minus != 0};
}

}  // namespace detail

/// A decimal field of `width` (1 to 8) bytes at `field`, 8 bytes readable:
/// ASCII spaces, an optional '-', digits with at most one '.', ending with a
/// digit in the last byte. Gives parse_number(trim(field)) bit for bit;
/// nothing for any other field (trailing spaces, '+', exponents, words,
/// other white space).
inline std::optional<double> parse_right_aligned_decimal(const char* field, std::size_t width) noexcept {
  const auto scan = detail::scan_right_aligned<true>(field, width);
  if (!scan) return std::nullopt;
  return short_decimal_value(scan->mantissa, scan->fraction_digits, scan->negative);
}

/// A field of `width` (1 to 8) bytes at `field`, 8 bytes readable, that is
/// a plain decimal: an optional '-', then digits with at most one '.' and at
/// least one digit, nothing else (no padding). The digits and where the
/// point was, or nothing for any other field, which parse_number then judges:
/// the value is short_decimal_value() of them, as parse_number gives it.
[[gnu::always_inline]] inline std::optional<detail::FieldDigits> scan_plain_decimal(const char* field,
                                                                                   std::size_t width) noexcept {
  using namespace detail;
  const bool negative = *field == '-';
  const std::size_t digits_width = width - negative;
  if (digits_width == 0) return std::nullopt;
  // The field's last byte goes to the top; the bytes below its first digit
  // (the sign's too) become '0', leading zeros that change no value.
  std::uint64_t word = load_word(field);
  if (width < 8) word <<= 8 * (8 - width);
  const std::uint64_t below = digits_width < 8 ? ~std::uint64_t{0} >> (8 * digits_width) : 0;
  word = (word & ~below) | (every_byte * '0' & below);
  const std::uint64_t digits = digit_bytes(word);
  const std::uint64_t point = bytes_equal_to(word, '.');
  if ((digits | point) != high_bits || (point & (point - 1)) != 0 || (digits & ~below) == 0) return std::nullopt;
  if (point == 0) return FieldDigits{eight_digits_value(word, high_bits), 0, negative};
  // Moving the bytes before the point up over it joins the digits; a '0' fills the bottom.
  const std::uint64_t before_point = (point >> 7) - 1;
  word = ((word & before_point) << 8) | (word & ~before_point << 8) | '0';
  return FieldDigits{eight_digits_value(word, high_bits), 7 - std::countr_zero(point) / 8, negative};
}

/// An integer field of `width` (1 to 8) bytes at `field`, 8 bytes readable:
/// ASCII spaces, an optional '-', digits up to the last byte. Gives
/// parse_int32(trim(field)); nothing for any other field.
inline std::optional<std::int32_t> parse_right_aligned_int32(const char* field, std::size_t width) noexcept {
  const auto scan = detail::scan_right_aligned<false>(field, width);
  if (!scan) return std::nullopt;
  const auto magnitude = static_cast<std::int32_t>(scan->mantissa);
  return scan->negative ? -magnitude : magnitude;
}

/// An unsigned field of `width` (1 to 8) bytes at `field`, 8 bytes
/// readable: ASCII spaces, digits up to the last byte. Gives
/// parse_unsigned(trim(field), max) for a value up to `max`; nothing for a
/// larger value or any other field.
inline std::optional<std::uint32_t> parse_right_aligned_unsigned(const char* field, std::size_t width,
                                                                 std::uint32_t max) noexcept {
  const auto scan = detail::scan_right_aligned<false>(field, width);
  if (!scan || scan->negative || scan->mantissa > max) return std::nullopt;
  return scan->mantissa;
}

/// Two adjacent integer fields of 4 bytes each, the 8 bytes at `fields`,
/// each as parse_right_aligned_int32 reads it: sets both `values` and
/// returns true, or returns false (values unspecified) when either field is
/// in another form. Out parameters rather than an optional array, which the
/// compiler passes through memory.
inline bool parse_right_aligned_int32_pair(const char* fields, std::int32_t& first, std::int32_t& second) noexcept {
  using namespace detail;
  const std::uint64_t word = load_word(fields);
  const std::uint64_t digits = digit_bytes(word);
  const std::uint64_t spaces = bytes_equal_to(word, ' ');
  const std::uint64_t minus = bytes_equal_to(word, '-');
  constexpr std::uint64_t last_bytes = 0x8000000080000000;    // byte 3 and byte 7
  constexpr std::uint64_t after_first = 0x8080800080808000;   // bytes 1-3 and 5-7
  // The rules of scan_right_aligned, within each field.
  if ((spaces | digits | minus) != high_bits || (digits & last_bytes) != last_bytes ||
      (((~spaces & high_bits) << 8) & (spaces | minus) & after_first) != 0) {
    return false;
  }
  // Both four-digit values at once: pairs, then fours, each in place.
  std::uint64_t v = word & (digits >> 7) * 0x0F;
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  const auto early = static_cast<std::int32_t>(v & 0xFFFF), late = static_cast<std::int32_t>(v >> 32);
  first = (minus & 0x80808080) != 0 ? -early : early;
  second = (minus >> 32) != 0 ? -late : late;
  return true;
}

}  // namespace sunindex::text
