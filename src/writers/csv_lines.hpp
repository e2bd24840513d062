#pragma once

// Result columns as CSV lines, each value written as Python prints it (a
// double as the shortest text that reads back as the same double, a bool as
// True or False), so that a million rows print in well under a second and
// read back exactly as the values Python hands out. Days and instants come
// already as their ISO text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sunindex::writers {

/// One printed column: a strided run of items of one kind, owned by the caller.
struct CsvColumn {
  enum class Kind : std::uint8_t {
    float64,  // double
    int64,    // std::int64_t
    int8,     // std::int8_t
    boolean,  // one byte, 0 or not
    ucs4,     // `width` UCS-4 characters, NULs at the end of a shorter text
  };
  Kind kind = Kind::float64;
  const std::byte* first = nullptr;  // row 0's item
  std::ptrdiff_t stride = 0;         // bytes from one row's item to the next
  std::size_t width = 0;             // ucs4 only: characters per item
};

/// Why a cell cannot be written.
enum class CsvError : std::uint8_t {
  not_unicode,  // a character is no Unicode scalar value (a surrogate, or beyond U+10FFFF)
};

struct CsvFailure {
  CsvError error;
  std::size_t row;
  std::size_t column;
};

/// The most bytes one line of `columns` takes, its newline included.
std::size_t csv_line_bound(std::span<const CsvColumn> columns) noexcept;

struct CsvWritten {
  std::size_t bytes = 0;
  std::optional<CsvFailure> failure;  // set: nothing of use was written
};

/// Writes rows [first, last) of `columns` as CSV lines ("," between cells, "\n"
/// after each row; a text holding a comma, a quote or a line break quoted, its
/// quotes doubled) to `out`, which holds at least (last - first) times
/// csv_line_bound(columns) bytes. Returns the bytes written, or the first cell
/// that cannot be written.
CsvWritten write_csv_lines(std::span<const CsvColumn> columns, std::size_t first, std::size_t last,
                           std::span<char> out) noexcept;

}  // namespace sunindex::writers
