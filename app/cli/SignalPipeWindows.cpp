#include <windows.h>
// windows.h first: io.h needs its types.
#include <io.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <string>
#include <system_error>

#include "app/cli/Console.h"
#include "app/cli/SignalPipe.h"
#include "base/WindowsText.h"

namespace vxa::cli {
namespace {

// Process-wide because the console's control handler has no other way to find anything. The
// handler runs on a thread the system starts for it, so atomics are all it needs.
std::atomic<HANDLE> g_wakeEvent{nullptr};
std::atomic<int> g_signal{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  int signal = 0;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal = SIGINT;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  // The second one takes the default action: the program ends at once, with the console's echo
  // put back as it was (no destructor runs on that way out).
  int none = 0;
  if (!g_signal.compare_exchange_strong(none, signal)) {
    RestoreTerminalNow();
    return FALSE;
  }
  if (HANDLE event = g_wakeEvent.load(); event != nullptr) ::SetEvent(event);
  return TRUE;
}

HANDLE InputHandle(int inputFd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(inputFd));
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

DWORD WaitMs(std::chrono::milliseconds wait) {
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INFINITE - 1));
}

}  // namespace

struct SignalPipe::State {
  HANDLE event = nullptr;
  std::string pending;  // console input read as a whole line and not yet handed out
};

SignalPipe::SignalPipe() : state_(std::make_unique<State>()) {
  // Manual reset: it stays set until drained, as bytes stay in a pipe.
  state_->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (state_->event == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateEvent");
  }
  g_signal = 0;
  g_wakeEvent.store(state_->event);
  if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    const auto error = static_cast<int>(::GetLastError());
    g_wakeEvent.store(nullptr);
    ::CloseHandle(state_->event);
    throw std::system_error(error, std::system_category(), "SetConsoleCtrlHandler");
  }
}

SignalPipe::~SignalPipe() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_wakeEvent.store(nullptr);
  ::CloseHandle(state_->event);
}

void SignalPipe::Wake() {
  ::SetEvent(state_->event);
}

void SignalPipe::WaitFor(std::chrono::milliseconds maxWait) {
  ::WaitForSingleObject(state_->event, WaitMs(maxWait));
}

SignalPipe::Input SignalPipe::WaitForInput(int inputFd) {
  if (!state_->pending.empty()) return Input::kReady;
  const HANDLE input = InputHandle(inputFd);
  // Only a console can be waited on together with the event; anything else is read directly.
  if (!IsConsole(input)) return Input::kReady;
  const HANDLE handles[2] = {input, state_->event};
  switch (::WaitForMultipleObjects(2, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
      return Input::kReady;
    case WAIT_OBJECT_0 + 1:
      return Input::kWoken;
    default:
      return Input::kFailed;
  }
}

int SignalPipe::ReadInputByte(int inputFd, char* byte) {
  if (state_->pending.empty()) {
    const HANDLE input = InputHandle(inputFd);
    if (IsConsole(input)) {
      // The console hands out whole lines as UTF-16: read one and keep it as UTF-8 bytes.
      wchar_t line[256];
      DWORD got = 0;
      if (!::ReadConsoleW(input, line, static_cast<DWORD>(std::size(line)), &got, nullptr)) {
        return -2;
      }
      // Ctrl-C ends a console read with nothing: that is no end of the input.
      if (got == 0) return g_signal.load() != 0 ? -1 : 0;
      for (const char c : win::Narrow(std::wstring_view(line, got))) {
        if (c != '\r') state_->pending.push_back(c);
      }
      if (state_->pending.empty()) return -1;
    } else {
      DWORD got = 0;
      if (!::ReadFile(input, byte, 1, &got, nullptr)) {
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -2;
      }
      return got == 1 ? 1 : 0;
    }
  }
  *byte = state_->pending.front();
  state_->pending.erase(0, 1);
  return 1;
}

void SignalPipe::Drain() {
  ::ResetEvent(state_->event);
}

int SignalPipe::Signal() const {
  return g_signal.load();
}

struct SignalsBlockedForNewThreads::State {};

SignalsBlockedForNewThreads::SignalsBlockedForNewThreads() = default;
SignalsBlockedForNewThreads::~SignalsBlockedForNewThreads() = default;

}  // namespace vxa::cli
