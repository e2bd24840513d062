#include "python/read_whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

std::variant<FileBytes, FileError> read_whole_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return FileError{"path contains a NUL character"};
  const std::string terminated(path);
  FileDescriptor file(::open(terminated.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return os_error(errno);

  // The reported size is only the first guess: pipes and /proc files report
  // 0, and a file may grow while it is read. One spare byte lets the end of
  // a regular file show up without growing the buffer.
  struct stat info {};
  std::size_t capacity = 1;
  if (::fstat(file.get(), &info) == 0 && info.st_size > 0) capacity += static_cast<std::size_t>(info.st_size);

  FileBytes content;
  content.data_ = std::make_unique_for_overwrite<char[]>(capacity);
  for (;;) {
    if (content.size_ == capacity) {
      auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::copy_n(content.data_.get(), content.size_, larger.get());
      content.data_ = std::move(larger);
      capacity *= 2;
    }
    const ssize_t got = ::read(file.get(), content.data_.get() + content.size_, capacity - content.size_);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return os_error(errno);
    }
    content.size_ += static_cast<std::size_t>(got);
  }
  return content;
}

}  // namespace sunindex::python
