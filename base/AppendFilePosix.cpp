#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/AppendFile.h"
#include "base/UniqueFd.h"

namespace vxa {
namespace {

bool Failed(int code, FileIoError* error) {
  error->noSpace = code == ENOSPC || code == EFBIG || code == EDQUOT;
  error->text = std::strerror(code);
  return false;
}

bool NotRegular(FileIoError* error) {
  Failed(EINVAL, error);
  error->notRegular = true;
  return false;
}

// The exclusive lock on the whole file for as long as one line is written.
class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {
    int result;
    while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    locked_ = result == 0;
  }
  ~FileLock() {
    if (locked_) ::flock(fd_, LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  const int fd_;
  bool locked_ = false;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::filesystem::path& path,
                                             FileIoError* error) {
  // Non-blocking while it is looked at, so that a named pipe nobody reads cannot hold the program;
  // a final symbolic link is followed, as for any file named on the command line.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                     0666));
  if (!fd.IsOpen()) {
    const int code = errno;
    // A directory, or a pipe without a reader: what the name is says more than the failure.
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) NotRegular(error);
    if (!error->notRegular) Failed(code, error);
    return nullptr;
  }
  struct stat opened {};
  if (::fstat(fd.Get(), &opened) != 0) {
    Failed(errno, error);
    return nullptr;
  }
  if (!S_ISREG(opened.st_mode)) {
    NotRegular(error);
    return nullptr;
  }
  if (::fcntl(fd.Get(), F_SETFL, O_APPEND) != 0) {
    Failed(errno, error);
    return nullptr;
  }
  return std::unique_ptr<AppendFile>(new AppendFile(fd.Release()));
}

AppendFile::~AppendFile() { ::close(static_cast<int>(handle_)); }

bool AppendFile::Append(std::string_view line, FileIoError* error) {
  const int fd = static_cast<int>(handle_);
  const FileLock lock(fd);
  if (!lock.Locked()) return Failed(errno, error);
  // One write: with O_APPEND the kernel puts it at the end as one piece. A write cut short (a full
  // disk) is not continued, since the rest would no longer be one line with its start.
  ssize_t written;
  while ((written = ::write(fd, line.data(), line.size())) < 0 && errno == EINTR) {
  }
  if (written < 0) return Failed(errno, error);
  if (static_cast<size_t>(written) != line.size()) return Failed(ENOSPC, error);
  return ::fsync(fd) == 0 || Failed(errno, error);
}

}  // namespace vxa
