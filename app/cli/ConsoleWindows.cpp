#include <windows.h>
// windows.h first: io.h needs its types.
#include <io.h>

#include <atomic>

#include "app/cli/Console.h"
#include "base/WindowsText.h"

namespace vxa::cli {
namespace {

// The console input whose echo is off and the mode it had, process-wide because the console's
// control handler has to find them; the mode is written before the handle is published.
std::atomic<HANDLE> g_hiddenInput{nullptr};
std::atomic<DWORD> g_savedMode{0};

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

TypedInputHidden::TypedInputHidden(int inputFd) {
  const HANDLE input = reinterpret_cast<HANDLE>(::_get_osfhandle(inputFd));
  DWORD mode = 0;
  if (g_hiddenInput.load() != nullptr || !::GetConsoleMode(input, &mode)) return;
  g_savedMode.store(mode);
  // Line input and Ctrl-C stay as they are: only the echo goes.
  if (!::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) return;
  g_hiddenInput.store(input);
  hidden_ = true;
}

TypedInputHidden::~TypedInputHidden() {
  if (!hidden_) return;
  const HANDLE input = g_hiddenInput.exchange(nullptr);
  if (input == nullptr) return;
  ::FlushConsoleInputBuffer(input);
  ::SetConsoleMode(input, g_savedMode.load());
}

void RestoreTerminalNow() noexcept {
  const HANDLE input = g_hiddenInput.exchange(nullptr);
  if (input != nullptr) ::SetConsoleMode(input, g_savedMode.load());
}

}  // namespace vxa::cli
