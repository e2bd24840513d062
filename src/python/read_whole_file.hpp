#pragma once

// File access for the constructors. Knows nothing of Python, so it could
// live below the binding; it sits here because only the binding opens files.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sunindex::python {

/// Why a file could not be read, worded for the user: the operating system's
/// description and code, "No such file or directory (os error 2)", or our
/// own description of a path we refuse to open.
struct FileError {
  std::string message;
};

/// The whole content of the file at `path` (UTF-8, passed to the OS as is).
/// Reads until end of file, so files whose reported size is 0 or wrong
/// (pipes, /proc) are read whole. A path with a NUL byte is refused rather
/// than cut short.
std::variant<std::vector<char>, FileError> read_whole_file(std::string_view path);

}  // namespace sunindex::python
