#pragma once

#include <chrono>
#include <cstdio>

namespace vxa::cli {

// Where the terminal program writes and reads, and what it may assume about them.
struct TerminalStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int inputFd = 0;
  bool inputIsTerminal = false;
  bool errIsTerminal = false;
  // Standard output is a terminal: no file's bytes may go there.
  bool outIsTerminal = false;
};

// Redraws of the lines drawn in place are at least this far apart (real time).
inline constexpr std::chrono::milliseconds kRedrawInterval{100};

}  // namespace vxa::cli
