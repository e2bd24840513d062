#pragma once

// Text rules shared by every reader: UTF-8 validation, Unicode White_Space
// trimming, the line walk and the number syntaxes. None of these throws or
// allocates.

#include <cstdint>
#include <optional>
#include <string_view>

namespace sunindex::text {

/// True when `bytes` is well-formed UTF-8 (RFC 3629: no overlong forms, no
/// surrogates, nothing above U+10FFFF, no truncated sequence).
bool is_valid_utf8(std::string_view bytes) noexcept;

/// trim() for text that begins or ends with a non-ASCII byte.
std::string_view trim_slow(std::string_view s) noexcept;

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

inline double ShortDecimal::value() const noexcept {
  const double magnitude = static_cast<double>(mantissa) / detail::exact_powers_of_ten[fraction_digits];
  return negative ? -magnitude : magnitude;
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

}  // namespace sunindex::text
