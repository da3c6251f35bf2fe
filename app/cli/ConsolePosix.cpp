#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "app/cli/Console.h"

namespace vxa::cli {
namespace {

// The modes before echo was turned off, and the descriptor they belong to (-1: nothing to put
// back). Process-wide, because a signal handler has to find them; the modes are written before
// the descriptor is published and read only after it is taken.
struct termios g_savedModes {};
std::atomic<int> g_hiddenFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Whether this program may change the modes of the terminal behind `fd`: it is in the
// terminal's foreground, or the terminal is not its controlling one (no job control applies).
bool MayChangeModes(int fd) {
  const pid_t group = ::tcgetpgrp(fd);
  return group == -1 ? errno == ENOTTY : group == ::getpgrp();
}

// A process that is put into the background (Ctrl-Z, bg) between the look and the change would
// be stopped by SIGTTOU for changing the terminal's modes; with SIGTTOU blocked the change is
// simply made.
class BackgroundStopBlocked {
 public:
  BackgroundStopBlocked() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTTOU);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~BackgroundStopBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  BackgroundStopBlocked(const BackgroundStopBlocked&) = delete;
  BackgroundStopBlocked& operator=(const BackgroundStopBlocked&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace

bool IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}

size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

TypedInputHidden::TypedInputHidden(int inputFd) {
  struct termios modes {};
  if (g_hiddenFd.load() >= 0 || !MayChangeModes(inputFd) || ::tcgetattr(inputFd, &modes) != 0) {
    return;
  }
  g_savedModes = modes;
  // Line editing and Ctrl-C stay as they are: only the echo goes.
  modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  BackgroundStopBlocked blocked;
  if (::tcsetattr(inputFd, TCSANOW, &modes) != 0) return;
  g_hiddenFd.store(inputFd);
  hidden_ = true;
}

TypedInputHidden::~TypedInputHidden() {
  if (!hidden_) return;
  const int fd = g_hiddenFd.exchange(-1);
  if (fd < 0 || !MayChangeModes(fd)) return;
  BackgroundStopBlocked blocked;
  // TCSAFLUSH: the input typed and not read is discarded as the modes return.
  ::tcsetattr(fd, TCSAFLUSH, &g_savedModes);
}

void RestoreTerminalNow() noexcept {
  // tcgetpgrp, getpgrp and tcsetattr are async-signal-safe (the handler keeps errno).
  const int fd = g_hiddenFd.exchange(-1);
  if (fd >= 0 && MayChangeModes(fd)) ::tcsetattr(fd, TCSAFLUSH, &g_savedModes);
}

}  // namespace vxa::cli
