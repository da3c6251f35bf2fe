#include "app/FileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {
namespace {

// Tries this many names before giving up on finding a free one for the temporary file.
constexpr int kTemporaryNameAttempts = 100;
// Links followed at the most, as the kernel does, so that a loop of links ends.
constexpr int kLinkDepthLimit = 40;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// A short name, so that any destination name the file system accepts leaves room for it.
std::string TemporaryName(std::mt19937& random) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string name = ".vxa-";
  for (int i = 0; i < 8; ++i) name += kLetters[pick(random)];
  return name;
}

}  // namespace

FileSink::FileSink(std::filesystem::path destination) : destination_(std::move(destination)) {
  if (destination_ == kStandardOutput) {
    toStandardOutput_ = true;
    fd_ = STDOUT_FILENO;
    return;
  }
  auto refuse = [this](int32_t id, int error) {
    throw TBufferError(
        FormatText(VXA_MSG(id), destination_.c_str(), ErrnoText(error).c_str()));
  };
  target_ = destination_;
  struct stat info {};
  for (int depth = 0;; ++depth) {
    if (::lstat(target_.c_str(), &info) != 0) {
      if (errno != ENOENT) refuse(msg::kFileCreateFailed, errno);
      break;  // a new file, or the missing target of a link
    }
    if (!S_ISLNK(info.st_mode)) {
      if (!S_ISREG(info.st_mode)) {
        throw TBufferError(FormatText(VXA_MSG(msg::kFileNotRegular), destination_.c_str()));
      }
      break;
    }
    if (depth == kLinkDepthLimit) refuse(msg::kFileCreateFailed, ELOOP);
    std::error_code error;
    const std::filesystem::path link = std::filesystem::read_symlink(target_, error);
    if (error) refuse(msg::kFileCreateFailed, error.value());
    target_ = link.is_absolute() ? link : target_.parent_path() / link;
    // /dev/stdout and its kind name a descriptor, not a file: renaming over what they point at
    // would take the file away from under whoever holds the descriptor.
    if (target_.string().starts_with("/proc/")) {
      throw TBufferError(FormatText(VXA_MSG(msg::kFileNotRegular), destination_.c_str()));
    }
  }
  CreateTemporary(target_);
  // An existing file keeps its mode; a new one has what the umask let open() give it.
  if (S_ISREG(info.st_mode)) ::fchmod(fd_, info.st_mode & 07777);
}

void FileSink::CreateTemporary(const std::filesystem::path& target) {
  const std::filesystem::path directory = target.parent_path();
  std::mt19937 random(std::random_device{}());
  int error = 0;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::filesystem::path candidate = directory / TemporaryName(random);
    // 0666 lets the umask decide a new file's permissions, as for any file a tool creates.
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
  if (toStandardOutput_) {
    fd_ = -1;
    return;
  }
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
    // Standard output may be a pipe or a terminal: it only takes bytes in order.
    const size_t rest = static_cast<size_t>(length - taken);
    const ssize_t written =
        toStandardOutput_
            ? ::write(fd_, bytes + taken, rest)
            : ::pwrite(fd_, bytes + taken, rest, static_cast<off_t>(position) + taken);
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
  if (position == position_.load()) return position;
  // What went to standard output cannot be taken back.
  if (fd_ < 0 || toStandardOutput_ || position < 0 || position > position_.load()) {
    return position_.load();
  }
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
  if (toStandardOutput_) {
    fd_ = -1;
    committed_ = true;
    return true;
  }
  // The data must be on disk before the name points at it, or a crash could leave an empty file
  // under the destination's name.
  if (::fsync(fd_) != 0) return fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail(errno);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return fail(errno);
  temporary_.clear();
  committed_ = true;
  return true;
}

}  // namespace vxa
