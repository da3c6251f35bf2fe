#include "link/Diagnostics.h"

#include <algorithm>
#include <cstdarg>

#include "base/FileIo.h"
#include "text/Messages.h"

namespace vxa {

void DumpMemoryBlock(std::FILE* file, const void* data, int32_t count) {
  std::fputs("\nDump memory block:\n", file);
  const auto* bytes = static_cast<const unsigned char*>(data);
  int32_t offset = 0;
  while (count > 0) {
    const int32_t n = std::min<int32_t>(count, 16);
    std::fprintf(file, "%06X: ", static_cast<unsigned>(offset));
    for (int32_t i = 0; i < n; ++i) std::fprintf(file, " %02X", bytes[offset + i]);
    std::fputc('\n', file);
    offset += 16;
    count -= n;
  }
}

TDiagnosticFiles::~TDiagnosticFiles() {
  if (LogFile) std::fflush(LogFile.get());
}

bool TDiagnosticFiles::Open(const std::string& name, bool append, FilePtr& file) {
  FileIoError error;
  // Binary: every line ends in a bare LF on every platform, so that logs compare line by line.
  file.reset(OpenOwnFile(name, append, &error));
  if (file) return true;
  failedFile_ = name;
  failedCause_ = error.link         ? VXA_MSG(msg::kOwnFileIsLink)
                 : error.notRegular ? VXA_MSG(msg::kOwnFileNotRegular)
                                    : error.text;
  return false;
}

bool TDiagnosticFiles::SetLogging(bool log, bool dump, const std::string& logName) {
  LogFile.reset();
  DumpFile.reset();
  failedFile_.clear();
  failedCause_.clear();
  if (log && !Open(logName, false, LogFile)) return false;
  if (log) logName_ = logName;
  if (!dump) return true;
  if (Open(kDumpFileName, false, DumpFile)) return true;
  LogFile.reset();
  return false;
}

bool TDiagnosticFiles::RenameLog(const std::string& name) {
  if (!LogFile || name == logName_) return LogFile != nullptr;
  // Closed for the move: Windows renames no file that is open.
  LogFile.reset();
  FileIoError error;
  const bool renamed = RenameReplacing(logName_, name, &error);
  if (renamed) logName_ = name;
  // Opened again as it was made: whatever took the name meanwhile is not written through.
  return Open(logName_, true, LogFile) && renamed;
}

void TDiagnosticFiles::Log(const char* format, ...) const {
  if (!LogFile) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(LogFile.get(), format, args);
  va_end(args);
}

void TDiagnosticFiles::FlushLog() const {
  if (LogFile) std::fflush(LogFile.get());
}

void TDiagnosticFiles::DumpToLog(const void* data, int32_t count) const {
  if (LogFile) DumpMemoryBlock(LogFile.get(), data, count);
}

void TDiagnosticFiles::AppendDump(const void* data, size_t count) const {
  if (DumpFile) std::fwrite(data, 1, count, DumpFile.get());
}

}  // namespace vxa
