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

/// `s` without leading and trailing White_Space characters (U+0009-U+000D,
/// U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
/// U+205F, U+3000). U+FEFF is not white space and stays.
std::string_view trim(std::string_view s) noexcept;

/// Walks the lines of a text. A line ends at LF; the LF and one CR directly
/// before it are dropped. Text after the last LF is a last line if not empty.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) noexcept : rest_(text) {}

  /// Moves to the next line; false at the end of the text.
  bool next(std::string_view& line) noexcept;

  /// 1-based number of the line last returned by next().
  std::uint64_t line_number() const noexcept { return line_number_; }

 private:
  std::string_view rest_;
  std::uint64_t line_number_ = 0;
};

/// The decimal number syntax of every float field: optional sign, then digits
/// with at most one '.' and at least one digit, optional exponent (e/E,
/// optional sign, digits); or "inf", "infinity", "nan" in any case. The whole
/// of `s` must match. Returns the nearest double (ties to even), an infinity
/// of the number's sign on overflow and a zero of its sign on underflow.
std::optional<double> parse_number(std::string_view s) noexcept;

/// An optional '+', then one or more ASCII digits, nothing else, value <= max.
std::optional<std::uint64_t> parse_unsigned(std::string_view s, std::uint64_t max) noexcept;

/// An optional '+' or '-', then one or more ASCII digits, nothing else,
/// fitting a signed 32-bit integer.
std::optional<std::int32_t> parse_int32(std::string_view s) noexcept;

}  // namespace sunindex::text
