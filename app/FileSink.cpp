#include "app/FileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {
namespace {

// Tries this many names before giving up on finding a free one for the temporary file.
constexpr int kTemporaryNameAttempts = 100;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

}  // namespace

FileSink::FileSink(std::filesystem::path destination) : destination_(std::move(destination)) {
  std::filesystem::path directory = destination_.parent_path();
  const std::string base = "." + destination_.filename().string() + ".part-" +
                           std::to_string(static_cast<long>(getpid())) + "-";
  int error = 0;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::filesystem::path candidate = directory / (base + std::to_string(attempt));
    // 0666 lets the umask decide the final file's permissions, as for any file a tool creates.
    fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = std::move(candidate);
      return;
    }
    error = errno;
    if (error != EEXIST) break;
  }
  throw TBufferError(
      FormatText(VXA_MSG(msg::kFileCreateFailed), destination_.c_str(), ErrnoText(error).c_str()));
}

FileSink::~FileSink() {
  if (!committed_) Discard();
}

void FileSink::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

int FileSink::Read(void* /*destination*/, int /*length*/) {
  return 0;
}

int FileSink::Write(const void* source, int length) {
  if (fd_ < 0 || length <= 0) return 0;
  const int position = position_.load();
  // The position is an int: a file that would pass its range is refused as a lack of room.
  if (length > INT_MAX - position) length = INT_MAX - position;
  const auto* bytes = static_cast<const char*>(source);
  int taken = 0;
  while (taken < length) {
    const ssize_t written = ::pwrite(fd_, bytes + taken, static_cast<size_t>(length - taken),
                                     static_cast<off_t>(position) + taken);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) break;
      throw TBufferError(FormatText(VXA_MSG(msg::kFileWriteFailed), ErrnoText(errno).c_str()));
    }
    if (written == 0) break;
    taken += static_cast<int>(written);
  }
  position_.store(position + taken);
  return taken;
}

int FileSink::SetPosition(int position) {
  if (fd_ < 0 || position < 0 || position > position_.load()) return position_.load();
  if (::ftruncate(fd_, position) == 0) position_.store(position);
  return position_.load();
}

bool FileSink::Commit(std::string* error) {
  if (committed_) return true;
  auto fail = [&](int code) {
    if (error != nullptr) {
      *error =
          FormatText(VXA_MSG(msg::kFileSaveFailed), destination_.c_str(), ErrnoText(code).c_str());
    }
    Discard();
    return false;
  };
  if (fd_ < 0) return fail(EBADF);
  // The data must be on disk before the name points at it, or a crash could leave an empty file
  // under the destination's name.
  if (::fsync(fd_) != 0) return fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail(errno);
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0) return fail(errno);
  temporary_.clear();
  committed_ = true;
  return true;
}

}  // namespace vxa
