#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vxa {

// Names of the diagnostic files, relative to the current directory.
inline constexpr char kLogFileName[] = "log_file.txt";
inline constexpr char kDumpFileName[] = "tx_dump";

// Lines of the log. Service engineers compare logs of different runs and versions line by line,
// so these formats never change.
namespace logfmt {
inline constexpr char kCommand[] = "CMD Code=%d Len=%d\n";
inline constexpr char kWriteRequestAnswer[] = "%s: ANS(0x%02X)\n";
inline constexpr char kWriteBlock[] = "%s: CMD(0x%02X) BLK(%d)\tDLEN(%d) \n";
inline constexpr char kWriteBlockAnswer[] = "%s: ANS(0x%02X) BLK(%d)\n";
inline constexpr char kReadRequestAnswer[] = "%s: ANS(0x%02X) DLEN(%08d)\n";
inline constexpr char kReadAck[] = "%s: CMD(0x%02X) DLEN(%08d) BLOCK(%08d)\n";
inline constexpr char kReadBlockAnswer[] = "%s: ANS(0x%02X) DLEN(%08d) BLOCK(%04d)\n";
// After a failed verification: where the first byte differs and how much had been compared.
inline constexpr char kVerifyMismatch[] =
    "VERIFY: first difference at offset %u, %u bytes compared\n";
}  // namespace logfmt

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Writes a hex dump of `count` bytes: a heading, then lines of 16 bytes behind a six-digit offset.
void DumpMemoryBlock(std::FILE* file, const void* data, int32_t count);

// The log and dump files of one connection. Every write happens under the connection's lock, so
// lines of the two threads never interleave.
class TDiagnosticFiles {
 public:
  TDiagnosticFiles() = default;
  TDiagnosticFiles(const TDiagnosticFiles&) = delete;
  TDiagnosticFiles& operator=(const TDiagnosticFiles&) = delete;
  ~TDiagnosticFiles();

  // Opens the files asked for, closing any earlier ones first. True when every requested file is
  // open; a dump file that cannot be created takes the log file down with it. The log is
  // log_file.txt unless the caller names another. The program is often run as root in a folder
  // others can write: a name that is a symbolic link, or not a regular file, is refused, never
  // written through.
  bool SetLogging(bool log, bool dump, const std::string& logName = kLogFileName);
  // After a SetLogging that returned false: the file that could not be created, and why (the
  // system's sentence, or the catalogue's for a link or what is no regular file).
  const char* FailedFile() const { return failedFile_.empty() ? nullptr : failedFile_.c_str(); }
  const std::string& FailedCause() const { return failedCause_; }
  // Gives the open log another name (replacing a file of that name) and goes on writing to it:
  // the log of one of several instruments takes the instrument's name once the instrument has
  // told it. False, with the log where it was, when the file cannot be renamed.
  bool RenameLog(const std::string& name);

  bool Logging() const { return LogFile != nullptr; }
  bool Dumping() const { return DumpFile != nullptr; }

  // One line of the log, when it is open; write errors are ignored as the log is only a help.
  void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void FlushLog() const;
  void DumpToLog(const void* data, int32_t count) const;
  void AppendDump(const void* data, size_t count) const;

 protected:
  FilePtr LogFile;
  FilePtr DumpFile;

 private:
  // Opens `name` afresh (or, with `append`, at its end) into `file`, noting why when it cannot.
  bool Open(const std::string& name, bool append, FilePtr& file);

  std::string failedFile_;  // kept here: the name given may not outlive the call
  std::string failedCause_;
  std::string logName_;
};

}  // namespace vxa
