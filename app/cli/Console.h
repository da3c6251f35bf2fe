#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The terminal as each platform has it: whether a stream is one, how wide it is, how text reaches
// it, and how typing is kept off it. POSIX terminals take UTF-8 bytes and termios modes
// (ConsolePosix.cpp); a Windows console takes UTF-16 text and console modes, while pipes and
// files still get the UTF-8 bytes (ConsoleWindows.cpp).
namespace vxa::cli {

// The escape that clears from the cursor to the end of the line; WriteText carries it out on a
// Windows console, where it may not be understood.
inline constexpr std::string_view kClearToLineEnd = "\033[K";
// The escape that moves the cursor `lines` lines up, to redraw several lines in place; WriteText
// carries it out on a Windows console too.
inline std::string CursorUp(int lines) { return "\033[" + std::to_string(lines) + "A"; }

bool IsTerminal(int fd);
// The width of the terminal behind `stream`; 0 when it cannot be told.
size_t TerminalColumns(std::FILE* stream);
// Writes UTF-8 `text` to `stream` and flushes it.
void WriteText(std::FILE* stream, std::string_view text);

// While it lives, keys typed on the terminal behind `inputFd` do not show (echo off), so they
// cannot break a progress line redrawn in place; when it goes, what was typed meanwhile is thrown
// away instead of reaching the shell, and the terminal's modes are as they were. A terminal the
// program is not in the foreground of is left alone: its modes belong to whoever is. One at a
// time: RestoreTerminalNow finds it through process-wide state.
class TypedInputHidden {
 public:
  explicit TypedInputHidden(int inputFd);
  ~TypedInputHidden();
  TypedInputHidden(const TypedInputHidden&) = delete;
  TypedInputHidden& operator=(const TypedInputHidden&) = delete;

 private:
  bool hidden_ = false;  // this object turned the echo off and owes the terminal its modes
};

// The terminal's modes as they were before a TypedInputHidden changed them, for a program about
// to end at once from a signal handler (a second Ctrl-C), where no destructor runs. Safe to call
// from a signal handler and from the console's control handler.
void RestoreTerminalNow() noexcept;

}  // namespace vxa::cli
