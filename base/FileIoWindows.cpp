#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "base/FileIo.h"
#include "base/WindowsText.h"

namespace vxa {
namespace {

bool Failed(DWORD code, FileIoError* error) {
  error->alreadyExists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  error->noSpace = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
                   code == ERROR_FILE_TOO_LARGE || code == ERROR_NOT_ENOUGH_QUOTA;
  error->text = win::SystemErrorText(code);
  return false;
}

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// For OpenOwnFile: whether what was opened is a plain file on a disk, emptied unless appended to.
bool PlainFile(HANDLE file, bool append, FileIoError* error) {
  BY_HANDLE_FILE_INFORMATION about{};
  if (!::GetFileInformationByHandle(file, &about)) return Failed(::GetLastError(), error);
  if ((about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error->link = true;
    return Failed(ERROR_CANT_ACCESS_FILE, error);
  }
  if (::GetFileType(file) != FILE_TYPE_DISK ||
      (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error->notRegular = true;
    return Failed(ERROR_INVALID_FUNCTION, error);
  }
  LARGE_INTEGER start{};
  return append || (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file)) ||
         Failed(::GetLastError(), error);
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::CreateNew(const std::filesystem::path& path,
                                                  FileIoError* error) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Failed(::GetLastError(), error);
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(reinterpret_cast<intptr_t>(file), false));
}

std::unique_ptr<OutputFile> OutputFile::StandardOutput() {
  return std::unique_ptr<OutputFile>(
      new OutputFile(reinterpret_cast<intptr_t>(::GetStdHandle(STD_OUTPUT_HANDLE)), true));
}

OutputFile::~OutputFile() {
  if (handle_ != -1 && !sequential_) ::CloseHandle(Handle(handle_));
}

long long OutputFile::WriteAt(const void* data, size_t length, int64_t offset,
                              FileIoError* error) {
  const auto* bytes = static_cast<const char*>(data);
  size_t taken = 0;
  while (taken < length) {
    // An offset in the OVERLAPPED structure is Windows' pwrite on a file opened for plain I/O.
    OVERLAPPED at{};
    const auto position = static_cast<uint64_t>(offset) + taken;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - taken, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(Handle(handle_), bytes + taken, chunk, &written,
                     sequential_ ? nullptr : &at)) {
      Failed(::GetLastError(), error);
      if (error->noSpace) break;
      return -1;
    }
    if (written == 0) break;
    taken += written;
  }
  return static_cast<long long>(taken);
}

bool OutputFile::Truncate(int64_t size, FileIoError* error) {
  if (sequential_) return Failed(ERROR_INVALID_FUNCTION, error);
  LARGE_INTEGER end{};
  end.QuadPart = size;
  if (!::SetFilePointerEx(Handle(handle_), end, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(Handle(handle_))) {
    return Failed(::GetLastError(), error);
  }
  return true;
}

bool OutputFile::Sync(FileIoError* error) {
  if (sequential_) return true;
  return ::FlushFileBuffers(Handle(handle_)) || Failed(::GetLastError(), error);
}

bool OutputFile::Close(FileIoError* error) {
  if (handle_ == -1) return Failed(ERROR_INVALID_HANDLE, error);
  HANDLE file = Handle(handle_);
  handle_ = -1;
  if (sequential_) return true;
  return ::CloseHandle(file) || Failed(::GetLastError(), error);
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                 FileIoError* error) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         Failed(::GetLastError(), error);
}

void RemoveFile(const std::filesystem::path& path) {
  ::DeleteFileW(path.c_str());
}

std::FILE* OpenOwnFile(const std::filesystem::path& path, bool append, FileIoError* error) {
  // The reparse point itself is opened, not what it points to; the sharing is fopen's.
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    Failed(code, error);
    // A folder under the name is refused as what it is, not as a denied access.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    error->notRegular = code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return nullptr;
  }
  if (!PlainFile(file, append, error)) {
    ::CloseHandle(file);
    return nullptr;
  }
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file),
                                           _O_BINARY | (append ? _O_APPEND : 0));
  if (descriptor < 0) {
    ::CloseHandle(file);
    Failed(ERROR_INVALID_HANDLE, error);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(descriptor, append ? "ab" : "wb+");
  if (stream == nullptr) {
    ::_close(descriptor);  // and with it the handle
    Failed(ERROR_INVALID_HANDLE, error);
  }
  return stream;
}

long long CurrentProcessId() {
  return static_cast<long long>(::GetCurrentProcessId());
}

}  // namespace vxa
