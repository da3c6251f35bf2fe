#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// The terminal as each platform has it: whether a stream is one, how wide it is, and how text
// reaches it. POSIX terminals take UTF-8 bytes (ConsolePosix.cpp); a Windows console takes UTF-16
// text, while pipes and files still get the UTF-8 bytes (ConsoleWindows.cpp).
namespace vxa::cli {

// The escape that clears from the cursor to the end of the line; WriteText carries it out on a
// Windows console, where it may not be understood.
inline constexpr std::string_view kClearToLineEnd = "\033[K";

bool IsTerminal(int fd);
// The width of the terminal behind `stream`; 0 when it cannot be told.
size_t TerminalColumns(std::FILE* stream);
// Writes UTF-8 `text` to `stream` and flushes it.
void WriteText(std::FILE* stream, std::string_view text);

}  // namespace vxa::cli
