#pragma once

// File access for the constructors. Knows nothing of Python, so it could
// live below the binding; it sits here because only the binding opens files.

#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace sunindex::python {

/// Why a file could not be read, worded for the user: the operating system's
/// description and code, "No such file or directory (os error 2)", or our
/// own description of a path we refuse to open.
struct FileError {
  std::string message;
};

/// A file's bytes. The buffer is not zero-filled first: the read writes it.
class FileBytes {
 public:
  std::string_view view() const noexcept { return {data_.get(), size_}; }

 private:
  friend std::variant<FileBytes, FileError> read_whole_file(std::string_view path);
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

/// The whole content of the file at `path` (UTF-8, passed to the OS as is).
/// Reads until end of file, so files whose reported size is 0 or wrong
/// (pipes, /proc) are read whole. A path with a NUL byte is refused rather
/// than cut short.
std::variant<FileBytes, FileError> read_whole_file(std::string_view path);

}  // namespace sunindex::python
