#pragma once

// Reading a long text in two threads: the text is cut at a line end near its
// middle and each part is read on its own, so a reader only has to be able
// to read a run of whole lines into an output of its own. Rows stay those of
// the whole file: the first part's lines are counted only when the second
// part fails, so that a read that succeeds never counts them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "common/concurrently.hpp"
#include "readers/read_options.hpp"
#include "store/data_error.hpp"

namespace sunindex::line_chunks {

/// Where `text` is cut into two runs of whole lines: just past the first LF
/// at or after its middle; text.size() when there is none before its last
/// byte (the text is then read in one part).
std::size_t split_point(std::string_view text) noexcept;

/// The number of LF in `text`, which is its number of lines when it ends
/// with one.
std::uint64_t count_lines(std::string_view text) noexcept;

/// `error` as the reader of the whole file reports it, when its row counts
/// from 1 within a part that follows `lines_before` lines. Row 0 names the
/// text as a whole (e.g. invalid UTF-8) and stays 0.
DataError in_file(DataError error, std::uint64_t lines_before);

/// Reads `text`, which follows `lines_before` lines of its file, with
/// `read_part(part, output)`: a part of whole lines into an output of its
/// own, returning the part's first error (rows from 1 within the part, 0 for
/// a fault of the text as a whole) or nothing.
///
/// A text of at least `options.parallel_from_bytes` is cut by split_point()
/// and its parts read side by side by run_concurrently(), the second part
/// into `second`; otherwise all of it is read here into `first` and `second`
/// stays untouched. The outputs are in file order.
///
/// Returns the first error in file order, with its row in the file; a row-0
/// error of either part comes before any other, as the whole text's would.
/// An exception thrown by `read_part` (std::bad_alloc) is rethrown here
/// after both parts have ended, never from the second thread.
template <class Output, class ReadPart>
std::optional<DataError> read_in_two(std::string_view text, const ReadOptions& options, std::uint64_t lines_before,
                                     const ReadPart& read_part, Output& first, Output& second) {
  const auto read_whole = [&]() -> std::optional<DataError> {
    auto error = read_part(text, first);
    if (!error) return std::nullopt;
    return in_file(std::move(*error), lines_before);
  };
  const std::size_t cut = text.size() >= options.parallel_from_bytes ? split_point(text) : text.size();
  if (cut == text.size()) return read_whole();

  const std::string_view head = text.substr(0, cut), tail = text.substr(cut);
  std::optional<DataError> head_error, tail_error;
  run_concurrently([&] { head_error = read_part(head, first); }, [&] { tail_error = read_part(tail, second); });
  if (head_error && head_error->row() == 0) return head_error;
  if (tail_error && tail_error->row() == 0) return tail_error;
  if (head_error) return in_file(std::move(*head_error), lines_before);
  if (tail_error) return in_file(std::move(*tail_error), lines_before + count_lines(head));
  return std::nullopt;
}

}  // namespace sunindex::line_chunks
