#include "readers/line_chunks.hpp"

#include <algorithm>
#include <cstring>

namespace sunindex::line_chunks {

std::size_t split_point(std::string_view text) noexcept {
  if (text.empty()) return 0;
  const std::size_t middle = text.size() / 2;
  const void* lf = std::memchr(text.data() + middle, '\n', text.size() - middle);
  if (lf == nullptr) return text.size();
  return static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1;
}

std::uint64_t count_lines(std::string_view text) noexcept {
  return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

DataError in_file(DataError error, std::uint64_t lines_before) {
  if (error.kind() != DataError::Kind::parse || error.row() == 0 || lines_before == 0) return error;
  return DataError::parse(error.row() + lines_before, error.message());
}

}  // namespace sunindex::line_chunks
