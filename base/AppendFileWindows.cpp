#include <windows.h>

#include "base/AppendFile.h"
#include "base/WindowsText.h"

namespace vxa {
namespace {

bool Failed(DWORD code, FileIoError* error) {
  error->noSpace = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
                   code == ERROR_FILE_TOO_LARGE || code == ERROR_NOT_ENOUGH_QUOTA;
  error->text = win::SystemErrorText(code);
  return false;
}

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The exclusive lock on the whole file for as long as one line is written.
class FileLock {
 public:
  explicit FileLock(HANDLE file) : file_(file) {
    locked_ = ::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &range_) != 0;
  }
  ~FileLock() {
    if (locked_) ::UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &range_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  const HANDLE file_;
  OVERLAPPED range_{};  // from offset 0
  bool locked_ = false;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::filesystem::path& path,
                                             FileIoError* error) {
  // Append access alone puts every write at the end; the read right is what LockFileEx asks for.
  // Others may read and append at the same time.
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    error->notRegular = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Failed(code, error);
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION about{};
  if (!::GetFileInformationByHandle(file, &about) || ::GetFileType(file) != FILE_TYPE_DISK ||
      (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(file);
    error->notRegular = true;
    Failed(ERROR_INVALID_FUNCTION, error);
    return nullptr;
  }
  return std::unique_ptr<AppendFile>(new AppendFile(reinterpret_cast<intptr_t>(file)));
}

AppendFile::~AppendFile() { ::CloseHandle(Handle(handle_)); }

bool AppendFile::Append(std::string_view line, FileIoError* error) {
  const FileLock lock(Handle(handle_));
  if (!lock.Locked()) return Failed(::GetLastError(), error);
  DWORD written = 0;
  if (!::WriteFile(Handle(handle_), line.data(), static_cast<DWORD>(line.size()), &written,
                   nullptr)) {
    return Failed(::GetLastError(), error);
  }
  if (written != line.size()) return Failed(ERROR_DISK_FULL, error);
  return ::FlushFileBuffers(Handle(handle_)) || Failed(::GetLastError(), error);
}

}  // namespace vxa
