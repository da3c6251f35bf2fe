#include <windows.h>
// windows.h first: io.h needs its types.
#include <io.h>

#include "app/cli/Console.h"
#include "base/WindowsText.h"

namespace vxa::cli {
namespace {

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

// Blanks from the cursor to the end of its line; the cursor stays where it is.
void ClearToLineEnd(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(console, &info)) return;
  const SHORT left = info.dwSize.X - info.dwCursorPosition.X;
  if (left <= 0) return;
  DWORD written = 0;
  ::FillConsoleOutputCharacterW(console, L' ', static_cast<DWORD>(left), info.dwCursorPosition,
                                &written);
}

void WriteConsolePart(HANDLE console, std::string_view text) {
  const std::wstring wide = win::Widen(text);
  DWORD written = 0;
  if (!wide.empty()) {
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }
}

}  // namespace

bool IsTerminal(int fd) {
  // _isatty says yes to any character device (NUL among them), and not always with 1.
  return IsConsole(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

size_t TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void WriteText(std::FILE* stream, std::string_view text) {
  const HANDLE handle = HandleOf(stream);
  if (!IsConsole(handle)) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
    return;
  }
  // Whatever the C library still holds goes first, so that the order stays.
  std::fflush(stream);
  for (;;) {
    const size_t escape = text.find(kClearToLineEnd);
    WriteConsolePart(handle, text.substr(0, escape));
    if (escape == std::string_view::npos) return;
    ClearToLineEnd(handle);
    text.remove_prefix(escape + kClearToLineEnd.size());
  }
}

}  // namespace vxa::cli
