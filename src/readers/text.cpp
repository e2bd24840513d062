#include "readers/text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace sunindex::text {
namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

/// Length in bytes of the White_Space character that starts `s`, or 0.
std::size_t leading_space_length(std::string_view s) noexcept {
  if (s.empty()) return 0;
  const unsigned char b0 = byte_at(s, 0);
  if (is_ascii_space(static_cast<char>(b0))) return 1;
  if (b0 == 0xC2 && s.size() >= 2) {
    const unsigned char b1 = byte_at(s, 1);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  }
  if (s.size() < 3) return 0;
  const unsigned char b1 = byte_at(s, 1), b2 = byte_at(s, 2);
  if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;  // U+1680
  if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;  // U+3000
  if (b0 != 0xE2) return 0;
  if (b1 == 0x80) {  // U+2000-U+200A, U+2028, U+2029, U+202F
    return (b2 <= 0x8A && b2 >= 0x80) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
  }
  return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
}

/// Length in bytes of the White_Space character that ends `s`, or 0. A
/// candidate is checked from its lead byte, so the tail of some other
/// character never matches.
std::size_t trailing_space_length(std::string_view s) noexcept {
  if (s.empty()) return 0;
  const unsigned char last = byte_at(s, s.size() - 1);
  if (last < 0x80) return is_ascii_space(static_cast<char>(last)) ? 1 : 0;
  for (std::size_t width : {std::size_t{2}, std::size_t{3}}) {
    if (s.size() >= width && leading_space_length(s.substr(s.size() - width)) == width) return width;
  }
  return 0;
}

/// Result of scanning the decimal form: the exact integer value of up to 19
/// mantissa digits and the power of ten that scales it, when it is small.
struct DecimalScan {
  bool valid = false;
  std::uint64_t mantissa = 0;   // the digits without the point, if they fit
  bool mantissa_exact = true;   // false once more than 19 digits were seen
  std::int64_t exponent10 = 0;  // value = mantissa * 10^exponent10 when exact
  std::int64_t magnitude = 0;   // decimal exponent of the leading significant digit + 1
  bool any_nonzero = false;
};

constexpr std::int64_t exponent_cap = 1'000'000'000;  // far beyond any double

DecimalScan scan_decimal(const char* p, const char* end) noexcept {
  DecimalScan scan;
  std::int64_t digits_after_point = 0;
  std::int64_t significant_int_digits = 0;
  std::int64_t leading_fraction_zeros = 0;
  int mantissa_digits = 0;
  bool seen_point = false, seen_digit = false;
  for (; p != end; ++p) {
    const char c = *p;
    if (is_digit(c)) {
      seen_digit = true;
      if (c != '0' || scan.any_nonzero) {
        if (!seen_point) ++significant_int_digits;
        scan.any_nonzero = true;
      } else if (seen_point) {
        ++leading_fraction_zeros;
      }
      if (mantissa_digits < 19) {
        scan.mantissa = scan.mantissa * 10 + static_cast<unsigned>(c - '0');
        if (scan.mantissa != 0) ++mantissa_digits;
        if (seen_point) ++digits_after_point;
      } else {
        scan.mantissa_exact = false;
      }
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!seen_digit) return scan;
  std::int64_t exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool exponent_negative = false;
    if (p != end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    if (p == end || !is_digit(*p)) return scan;
    for (; p != end && is_digit(*p); ++p) {
      exponent = std::min(exponent * 10 + (*p - '0'), exponent_cap);
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (p != end) return scan;
  scan.valid = true;
  scan.exponent10 = exponent - digits_after_point;
  scan.magnitude = exponent + (significant_int_digits > 0 ? significant_int_digits : -leading_fraction_zeros);
  return scan;
}

/// The classic exact case: a mantissa below 2^53 scaled by an exactly
/// representable power of ten is one correctly rounded operation.
std::optional<double> fast_path_value(const DecimalScan& scan) noexcept {
  constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
  if (!scan.mantissa_exact || scan.mantissa > max_exact_mantissa) return std::nullopt;
  if (scan.exponent10 < -22 || scan.exponent10 > 22) return std::nullopt;
  const double m = static_cast<double>(scan.mantissa);
  return scan.exponent10 >= 0 ? m * detail::exact_powers_of_ten[scan.exponent10]
                              : m / detail::exact_powers_of_ten[-scan.exponent10];
}

bool equals_ignoring_case(std::string_view s, std::string_view lower_word) noexcept {
  if (s.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

std::optional<double> parse_word(std::string_view word, bool negative) noexcept {
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(word, "nan")) {
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  }
  return std::nullopt;
}

/// Whether every CR of `text` is directly followed by an LF.
bool every_cr_ends_a_line(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  while ((p = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)))) != nullptr) {
    if (++p == end || *p != '\n') return false;
  }
  return true;
}

/// What is wrong with one line (without its LF and the CR before it), or nullptr.
const char* line_fault(std::string_view line, bool ends_with_lf) noexcept {
  if (!is_valid_utf8(line)) return "invalid utf-8";
  if (line.find('\r') != std::string_view::npos) return "a CR without an LF after it: lines must end with LF or CR LF";
  if (!ends_with_lf) return "the last line has no line end: the file may be cut off";
  return nullptr;
}

}  // namespace

std::optional<LineFault> first_line_fault(std::string_view text) noexcept {
  if (text.empty() || (text.back() == '\n' && is_valid_utf8(text) && every_cr_ends_a_line(text))) return std::nullopt;
  // Some line is at fault: the walk finds the first.
  LineCursor lines(text);
  std::string_view line;
  while (lines.next(line)) {
    const bool ends_with_lf = !lines.rest().empty() || text.back() == '\n';
    if (const char* message = line_fault(line, ends_with_lf)) {
      return LineFault{static_cast<std::size_t>(line.data() - text.data()), lines.line_number(), message};
    }
  }
  return std::nullopt;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p != end) {
    // ASCII 32 bytes at a time, then 8: the common case in every file we read.
    if (end - p >= 32) {
      std::uint64_t words[4];
      std::memcpy(words, p, 32);
      if (((words[0] | words[1] | words[2] | words[3]) & word_bytes::high_bits) == 0) {
        p += 32;
        continue;
      }
    }
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & word_bytes::high_bits) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char b0 = *p;
    if (b0 < 0x80) {
      ++p;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) low = 0xA0;   // no overlong forms
      if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) low = 0x90;   // no overlong forms
      if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (std::size_t i = 2; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += length;
  }
  return true;
}

std::string_view trim_front_slow(std::string_view s) noexcept {
  // Any mix of ASCII and other white space.
  while (const std::size_t n = leading_space_length(s)) s.remove_prefix(n);
  return s;
}

std::string_view trim_slow(std::string_view s) noexcept {
  s = trim_front_slow(s);
  while (const std::size_t n = trailing_space_length(s)) s.remove_suffix(n);
  return s;
}

bool LineCursor::next(std::string_view& line) noexcept {
  if (rest_.empty()) return false;
  ++line_number_;
  const void* lf = std::memchr(rest_.data(), '\n', rest_.size());
  if (lf == nullptr) {
    line = rest_;
    rest_ = {};
    return true;
  }
  const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - rest_.data());
  line = rest_.substr(0, length);
  rest_.remove_prefix(length + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

std::optional<double> detail::parse_number_general(std::string_view s) noexcept {
  const char* p = s.data();
  const char* const end = p + s.size();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end) return std::nullopt;
  if (!is_digit(*p) && *p != '.') return parse_word(std::string_view(p, static_cast<std::size_t>(end - p)), negative);

  const DecimalScan scan = scan_decimal(p, end);
  if (!scan.valid) return std::nullopt;
  const double sign = negative ? -1.0 : 1.0;
  if (!scan.any_nonzero) return sign * 0.0;
  if (const auto exact = fast_path_value(scan)) return sign * *exact;

  // from_chars rounds correctly; the syntax was checked above, so it consumes
  // everything and only reports a value out of the double's range.
  double magnitude = 0.0;
  const auto [stop, error] = std::from_chars(p, end, magnitude, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    magnitude = scan.magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc{} || stop != end) {
    return std::nullopt;
  }
  return sign * magnitude;
}

}  // namespace sunindex::text
