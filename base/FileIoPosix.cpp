#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FileIo.h"
#include "base/UniqueFd.h"

namespace vxa {
namespace {

bool Failed(int code, FileIoError* error) {
  error->alreadyExists = code == EEXIST;
  error->noSpace = code == ENOSPC || code == EFBIG || code == EDQUOT;
  error->text = std::strerror(code);
  return false;
}

int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::CreateNew(const std::filesystem::path& path,
                                                  FileIoError* error) {
  // 0666 lets the umask decide the final file's permissions, as for any file a tool creates.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    Failed(errno, error);
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(fd, false));
}

std::unique_ptr<OutputFile> OutputFile::StandardOutput() {
  return std::unique_ptr<OutputFile>(new OutputFile(STDOUT_FILENO, true));
}

OutputFile::~OutputFile() {
  if (handle_ >= 0 && !sequential_) ::close(Fd(handle_));
}

long long OutputFile::WriteAt(const void* data, size_t length, int64_t offset,
                              FileIoError* error) {
  const auto* bytes = static_cast<const char*>(data);
  size_t taken = 0;
  while (taken < length) {
    // Standard output may be a pipe or a terminal: it only takes bytes in order.
    const ssize_t written =
        sequential_ ? ::write(Fd(handle_), bytes + taken, length - taken)
                    : ::pwrite(Fd(handle_), bytes + taken, length - taken,
                               static_cast<off_t>(offset + static_cast<int64_t>(taken)));
    if (written < 0) {
      if (errno == EINTR) continue;
      Failed(errno, error);
      if (error->noSpace) break;
      return -1;
    }
    if (written == 0) break;
    taken += static_cast<size_t>(written);
  }
  return static_cast<long long>(taken);
}

bool OutputFile::Truncate(int64_t size, FileIoError* error) {
  if (sequential_) return Failed(ESPIPE, error);
  return ::ftruncate(Fd(handle_), static_cast<off_t>(size)) == 0 || Failed(errno, error);
}

bool OutputFile::Sync(FileIoError* error) {
  if (sequential_) return true;
  return ::fsync(Fd(handle_)) == 0 || Failed(errno, error);
}

bool OutputFile::Close(FileIoError* error) {
  if (handle_ < 0) return Failed(EBADF, error);
  const int fd = Fd(handle_);
  handle_ = -1;
  if (sequential_) return true;
  return ::close(fd) == 0 || Failed(errno, error);
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                 FileIoError* error) {
  return ::rename(from.c_str(), to.c_str()) == 0 || Failed(errno, error);
}

void RemoveFile(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

std::FILE* OpenOwnFile(const std::filesystem::path& path, bool append, FileIoError* error) {
  // Not emptied on opening: whatever the name turns out to be is looked at first. Non-blocking
  // so that a named pipe nobody reads cannot hold the program; no controlling terminal either.
  const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  UniqueFd fd(::open(path.c_str(), flags | (append ? O_APPEND : 0), 0666));
  if (!fd.IsOpen()) {
    const int code = errno;
    struct stat named {};
    Failed(code, error);
    error->link = code == ELOOP && ::lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode);
    return nullptr;
  }
  struct stat opened {};
  if (::fstat(fd.Get(), &opened) != 0) {
    Failed(errno, error);
    return nullptr;
  }
  if (!S_ISREG(opened.st_mode)) {
    Failed(EINVAL, error);
    error->notRegular = true;
    return nullptr;
  }
  if (::fcntl(fd.Get(), F_SETFL, append ? O_APPEND : 0) != 0 ||
      (!append && ::ftruncate(fd.Get(), 0) != 0)) {
    Failed(errno, error);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd.Get(), append ? "ab" : "wb+");
  if (file == nullptr) {
    Failed(errno, error);
    return nullptr;
  }
  static_cast<void>(fd.Release());  // the stream closes it
  return file;
}

long long CurrentProcessId() {
  return static_cast<long long>(::getpid());
}

}  // namespace vxa
