#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

// Writing a file in place and giving it its name at the end, as each platform does it: POSIX
// open/pwrite/ftruncate/fsync/rename (FileIoPosix.cpp), Windows CreateFile/WriteFile with an
// offset/SetEndOfFile/FlushFileBuffers/MoveFileEx, which unlike rename() must be told to replace
// (FileIoWindows.cpp).
namespace vxa {

struct FileIoError {
  bool alreadyExists = false;  // CreateNew: the name is taken
  bool noSpace = false;        // the disk (or the user's quota) is full, or the file too large
  bool link = false;           // OpenOwnFile: the name is a symbolic link (a reparse point)
  bool notRegular = false;     // OpenOwnFile: the name is a device, a pipe or the like
  std::string text;            // the system's sentence for the failure
};

class OutputFile {
 public:
  // Creates `path`, which must not exist yet, for writing. Null with the reason when it cannot.
  static std::unique_ptr<OutputFile> CreateNew(const std::filesystem::path& path,
                                               FileIoError* error);
  // The program's standard output: written in order (the offset is not looked at), never
  // closed here, and nothing to sync or truncate.
  static std::unique_ptr<OutputFile> StandardOutput();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes up to `length` bytes at `offset`. Returns how many were written, -1 on failure (with
  // the reason); fewer than asked, with `noSpace` set, when the disk is full.
  long long WriteAt(const void* data, size_t length, int64_t offset, FileIoError* error);
  bool Truncate(int64_t size, FileIoError* error);
  // Puts what was written on the disk.
  bool Sync(FileIoError* error);
  // Closes now; later calls fail. The destructor closes a file that is still open.
  bool Close(FileIoError* error);

 private:
  OutputFile(intptr_t handle, bool sequential) : handle_(handle), sequential_(sequential) {}
  intptr_t handle_;  // a descriptor or a HANDLE; -1 once closed
  const bool sequential_;
};

// Gives `from` the name `to`, replacing a file of that name.
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                 FileIoError* error);
void RemoveFile(const std::filesystem::path& path);

// A file the program writes under a name of its own choosing (the exchange log, the dump), in a
// folder that may be shared with others: opened without following a final symbolic link (on
// Windows, a reparse point) and only as a regular file, so that nothing planted under the name
// makes the program write into another file; a device or a pipe is never waited on or emptied.
// Created when missing; emptied unless `append`. Null with the reason when refused or failed.
std::FILE* OpenOwnFile(const std::filesystem::path& path, bool append, FileIoError* error);
// The running program's process number, for names no other run will pick.
long long CurrentProcessId();

}  // namespace vxa
