#include "writers/csv_lines.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "common/utf8.hpp"

namespace sunindex::writers {
namespace {

using Kind = CsvColumn::Kind;

// "-2.2250738585072014e-308": a sign, 17 digits, a point and a four-character exponent.
constexpr std::size_t float_bound = 24;

char* put(char* out, std::string_view text) noexcept {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

template <typename T>
T item(const CsvColumn& column, std::size_t row) noexcept {
  T value;
  std::memcpy(&value, column.first + static_cast<std::ptrdiff_t>(row) * column.stride, sizeof value);
  return value;
}

/// `value` as Python's repr writes it: the shortest digits that read back as
/// the same double, in positional notation from 1e-4 up to 1e16 (with ".0" when
/// they are a whole number) and as d.ddde+XX beyond.
char* put_float(char* out, double value) noexcept {
  if (std::isnan(value)) return put(out, "nan");
  if (std::isinf(value)) return put(out, value < 0 ? "-inf" : "inf");
  char scientific[float_bound];
  const auto end = std::to_chars(scientific, scientific + float_bound, value, std::chars_format::scientific).ptr;
  const std::string_view text(scientific, static_cast<std::size_t>(end - scientific));
  const auto e = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), end, exponent);
  if (exponent < -4 || exponent >= 16) return put(out, text);  // to_chars's exponent has Python's form
  std::string_view mantissa = text.substr(0, e);
  if (mantissa.front() == '-') {
    *out++ = '-';
    mantissa.remove_prefix(1);
  }
  char digits[17];
  std::size_t count = 0;
  for (const char c : mantissa) {
    if (c != '.') digits[count++] = c;
  }
  const std::string_view all(digits, count);
  if (exponent < 0) {
    out = put(out, "0.");
    out = put(out, std::string_view("0000", static_cast<std::size_t>(-exponent - 1)));
    return put(out, all);
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (count <= whole) {
    out = put(out, all);
    std::memset(out, '0', whole - count);
    return put(out + (whole - count), ".0");
  }
  out = put(out, all.substr(0, whole));
  *out++ = '.';
  return put(out, all.substr(whole));
}

char* put_integer(char* out, std::int64_t value) noexcept {
  return std::to_chars(out, out + 20, value).ptr;
}

/// The UCS-4 characters of a text item, read one by one: NumPy does not promise
/// that a strided view keeps them aligned.
class TextItem {
 public:
  TextItem(const CsvColumn& column, std::size_t row) noexcept
      : characters_(column.first + static_cast<std::ptrdiff_t>(row) * column.stride), length_(column.width) {
    while (length_ > 0 && (*this)[length_ - 1] == U'\0') --length_;  // NumPy's padding, not the text's
  }

  std::size_t size() const noexcept { return length_; }
  char32_t operator[](std::size_t index) const noexcept {
    char32_t c;
    std::memcpy(&c, characters_ + index * sizeof c, sizeof c);
    return c;
  }

 private:
  const std::byte* characters_;
  std::size_t length_;
};

bool needs_quotes(const TextItem& text) noexcept {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c == U',' || c == U'"' || c == U'\r' || c == U'\n') return true;
  }
  return false;
}

/// The text in UTF-8, quoted where a reader would otherwise split it; false
/// for a character that is no Unicode scalar value.
bool put_text(char*& out, const TextItem& text) noexcept {
  const bool quoted = needs_quotes(text);
  char* at = out;
  if (quoted) *at++ = '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c == U'"') *at++ = '"';
    at = put_utf8(at, c);
  }
  if (quoted) *at++ = '"';
  out = at;
  return true;
}

std::size_t cell_bound(const CsvColumn& column) noexcept {
  switch (column.kind) {
    case Kind::float64: return float_bound;
    case Kind::int64: return 20;
    case Kind::int8: return 4;
    case Kind::boolean: return 5;
    case Kind::ucs4: return 4 * column.width + 2;  // a doubled quote takes 2 of a character's 4
  }
  return 0;
}

/// Writes one cell; the error when it cannot be.
std::optional<CsvError> put_cell(char*& out, const CsvColumn& column, std::size_t row) noexcept {
  switch (column.kind) {
    case Kind::float64: out = put_float(out, item<double>(column, row)); break;
    case Kind::int64: out = put_integer(out, item<std::int64_t>(column, row)); break;
    case Kind::int8: out = put_integer(out, item<std::int8_t>(column, row)); break;
    case Kind::boolean: out = put(out, item<std::uint8_t>(column, row) ? "True" : "False"); break;
    case Kind::ucs4:
      if (!put_text(out, TextItem(column, row))) return CsvError::not_unicode;
      break;
  }
  return std::nullopt;
}

}  // namespace

std::size_t csv_line_bound(std::span<const CsvColumn> columns) noexcept {
  std::size_t bound = columns.size();  // the commas and the newline
  for (const CsvColumn& column : columns) bound += cell_bound(column);
  return bound;
}

CsvWritten write_csv_lines(std::span<const CsvColumn> columns, std::size_t first, std::size_t last,
                           std::span<char> out) noexcept {
  char* at = out.data();
  for (std::size_t row = first; row < last; ++row) {
    for (std::size_t index = 0; index < columns.size(); ++index) {
      if (index) *at++ = ',';
      if (const auto error = put_cell(at, columns[index], row)) return {0, CsvFailure{*error, row, index}};
    }
    *at++ = '\n';
  }
  return {static_cast<std::size_t>(at - out.data()), std::nullopt};
}

}  // namespace sunindex::writers
