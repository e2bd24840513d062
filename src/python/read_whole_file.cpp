#include "python/read_whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace sunindex::python {
namespace {

FileError os_error(int code) {
  return FileError{std::system_category().message(code) + " (os error " + std::to_string(code) + ")"};
}

/// Closes the descriptor on every path out of read_whole_file.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::variant<std::vector<char>, FileError> read_whole_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return FileError{"path contains a NUL character"};
  const std::string terminated(path);
  FileDescriptor file(::open(terminated.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return os_error(errno);

  struct stat info {};
  std::size_t expected = 0;
  if (::fstat(file.get(), &info) == 0 && info.st_size > 0) expected = static_cast<std::size_t>(info.st_size);

  // One spare byte lets the end of a regular file show up without growing.
  std::vector<char> content(expected + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == content.size()) content.resize(content.size() * 2);
    const ssize_t got = ::read(file.get(), content.data() + filled, content.size() - filled);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return os_error(errno);
    }
    filled += static_cast<std::size_t>(got);
  }
  content.resize(filled);
  return content;
}

}  // namespace sunindex::python
