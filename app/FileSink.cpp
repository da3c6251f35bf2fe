#include "app/FileSink.h"

#include <climits>
#include <random>
#include <system_error>

#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {
namespace {

namespace fs = std::filesystem;

// Tries this many names before giving up on finding a free one for the temporary file.
constexpr int kTemporaryNameAttempts = 100;
// Links followed at the most, as the kernel does, so that a loop of links ends.
constexpr int kLinkDepthLimit = 40;

// A short name, so that any destination name the file system accepts leaves room for it.
std::string TemporaryName(std::mt19937& random) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string name = ".vxa-";
  for (int i = 0; i < 8; ++i) name += kLetters[pick(random)];
  return name;
}

// The path as UTF-8, for the catalogue's texts (a Windows path is UTF-16).
std::string Shown(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

FileSink::FileSink(fs::path destination) : destination_(std::move(destination)) {
  if (destination_ == kStandardOutput) {
    toStandardOutput_ = true;
    file_ = OutputFile::StandardOutput();
    return;
  }
  auto refuse = [this](int32_t id, const std::error_code& error) {
    throw TBufferError(
        FormatText(VXA_MSG(id), Shown(destination_).c_str(), error.message().c_str()));
  };
  target_ = destination_;
  fs::file_status status;
  for (int depth = 0;; ++depth) {
    std::error_code error;
    status = fs::symlink_status(target_, error);
    if (status.type() == fs::file_type::not_found) break;  // a new file, or a link's missing target
    if (error) refuse(msg::kFileCreateFailed, error);
    if (status.type() != fs::file_type::symlink) {
      if (status.type() == fs::file_type::directory) {
        throw TBufferError(FormatText(VXA_MSG(msg::kFileIsDirectory), Shown(destination_).c_str()));
      }
      if (status.type() != fs::file_type::regular) {
        throw TBufferError(FormatText(VXA_MSG(msg::kFileNotRegular), Shown(destination_).c_str()));
      }
      break;
    }
    if (depth == kLinkDepthLimit) {
      refuse(msg::kFileCreateFailed, std::make_error_code(std::errc::too_many_symbolic_link_levels));
    }
    const fs::path link = fs::read_symlink(target_, error);
    if (error) refuse(msg::kFileCreateFailed, error);
    target_ = link.is_absolute() ? link : target_.parent_path() / link;
    // /dev/stdout and its kind name a descriptor, not a file: renaming over what they point at
    // would take the file away from under whoever holds the descriptor.
    if (target_.string().starts_with("/proc/")) {
      throw TBufferError(FormatText(VXA_MSG(msg::kFileNotRegular), Shown(destination_).c_str()));
    }
  }
  CreateTemporary(target_);
  // An existing file keeps its mode; a new one has what the umask let the creation give it.
  if (status.type() == fs::file_type::regular) {
    std::error_code ignored;
    fs::permissions(temporary_, status.permissions(), ignored);
  }
}

void FileSink::CreateTemporary(const fs::path& target) {
  const fs::path directory = target.parent_path();
  std::mt19937 random(std::random_device{}());
  FileIoError error;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    fs::path candidate = directory / TemporaryName(random);
    file_ = OutputFile::CreateNew(candidate, &error);
    if (file_) {
      temporary_ = std::move(candidate);
      return;
    }
    if (!error.alreadyExists) break;
  }
  throw TBufferError(FormatText(VXA_MSG(msg::kFileCreateFailed), Shown(destination_).c_str(),
                                error.text.c_str()));
}

FileSink::~FileSink() {
  if (!committed_) Discard();
}

void FileSink::Discard() {
  file_.reset();
  if (!temporary_.empty()) {
    RemoveFile(temporary_);
    temporary_.clear();
  }
}

int FileSink::Read(void* /*destination*/, int /*length*/) {
  return 0;
}

int FileSink::Write(const void* source, int length) {
  if (!file_ || length <= 0) return 0;
  const int position = position_.load();
  // The position is an int: a file that would pass its range is refused as a lack of room.
  if (length > INT_MAX - position) length = INT_MAX - position;
  FileIoError error;
  const long long taken = file_->WriteAt(source, static_cast<size_t>(length), position, &error);
  if (taken < 0) {
    throw TBufferError(FormatText(VXA_MSG(msg::kFileWriteFailed), error.text.c_str()));
  }
  position_.store(position + static_cast<int>(taken));
  return static_cast<int>(taken);
}

int FileSink::SetPosition(int position) {
  if (position == position_.load()) return position;
  // What went to standard output cannot be taken back.
  if (!file_ || toStandardOutput_ || position < 0 || position > position_.load()) {
    return position_.load();
  }
  FileIoError error;
  if (file_->Truncate(position, &error)) position_.store(position);
  return position_.load();
}

bool FileSink::Commit(std::string* error) {
  if (committed_) return true;
  FileIoError failure;
  auto fail = [&] {
    if (error != nullptr) {
      *error = FormatText(VXA_MSG(msg::kFileSaveFailed), Shown(destination_).c_str(),
                          failure.text.c_str());
    }
    Discard();
    return false;
  };
  if (!file_) {
    failure.text = std::make_error_code(std::errc::bad_file_descriptor).message();
    return fail();
  }
  if (toStandardOutput_) {
    file_.reset();
    committed_ = true;
    return true;
  }
  // The data must be on disk before the name points at it, or a crash could leave an empty file
  // under the destination's name.
  if (!file_->Sync(&failure)) return fail();
  const bool closed = file_->Close(&failure);
  file_.reset();
  if (!closed) return fail();
  if (!RenameReplacing(temporary_, target_, &failure)) return fail();
  temporary_.clear();
  committed_ = true;
  return true;
}

}  // namespace vxa
