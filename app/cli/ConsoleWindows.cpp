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

// Moves the cursor `lines` up, as far as the top of the buffer.
void CursorUpBy(HANDLE console, int lines) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(console, &info)) return;
  COORD position = info.dwCursorPosition;
  position.Y = static_cast<SHORT>(position.Y > lines ? position.Y - lines : 0);
  ::SetConsoleCursorPosition(console, position);
}

// The count of "\033[<n>A" at the start of `text` and the escape's length; 0 when it is none.
size_t CursorUpEscape(std::string_view text, int* lines) {
  constexpr std::string_view kIntroducer = "\033[";
  if (!text.starts_with(kIntroducer)) return 0;
  size_t end = kIntroducer.size();
  int count = 0;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9' && count < 10000) {
    count = count * 10 + (text[end++] - '0');
  }
  if (end == kIntroducer.size() || end >= text.size() || text[end] != 'A') return 0;
  *lines = count;
  return end + 1;
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
  // Whatever the C library still holds goes first, so that the order stays. The console may not
  // understand the two escapes the progress uses: they are carried out here.
  std::fflush(stream);
  for (;;) {
    const size_t escape = text.find('\033');
    WriteConsolePart(handle, text.substr(0, escape));
    if (escape == std::string_view::npos) return;
    text.remove_prefix(escape);
    int lines = 0;
    if (text.starts_with(kClearToLineEnd)) {
      ClearToLineEnd(handle);
      text.remove_prefix(kClearToLineEnd.size());
    } else if (const size_t length = CursorUpEscape(text, &lines); length != 0) {
      CursorUpBy(handle, lines);
      text.remove_prefix(length);
    } else {
      WriteConsolePart(handle, text.substr(0, 1));
      text.remove_prefix(1);
    }
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
