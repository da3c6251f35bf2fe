#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/FileIo.h"

// A file that several instruments and several programs append whole lines to at once, as each
// platform does it: POSIX O_APPEND with flock (AppendFilePosix.cpp), Windows FILE_APPEND_DATA with
// LockFileEx (AppendFileWindows.cpp). Each line goes out under an exclusive lock in one write and
// is on the disk before Append returns, so that no line is torn, none lands inside another, and
// none is lost to a crash once it was said to be written.
namespace vxa {

class AppendFile {
 public:
  // Opens `path` for appending, creating it when missing. A symbolic link is followed to a
  // regular file; a directory, a device or a pipe is refused (`notRegular`), and never waited on.
  static std::unique_ptr<AppendFile> Open(const std::filesystem::path& path, FileIoError* error);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Appends `line` whole at the file's end and puts it on the disk.
  bool Append(std::string_view line, FileIoError* error);

 private:
  explicit AppendFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;  // a descriptor or a HANDLE
};

}  // namespace vxa
