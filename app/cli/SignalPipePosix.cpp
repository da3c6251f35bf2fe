#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <system_error>

#include "app/cli/Console.h"
#include "app/cli/SignalPipe.h"
#include "base/UniqueFd.h"

namespace vxa::cli {
namespace {

// Process-wide because a signal handler has no other way to find anything. Both are lock-free,
// which is what makes touching them from the handler safe.
std::atomic<int> g_wakeFd{-1};
volatile std::sig_atomic_t g_signal = 0;
// One bit per signal number that has come: the second of a kind ends the program at once.
volatile std::sig_atomic_t g_seen = 0;
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(SIGINT < 31 && SIGTERM < 31 && SIGHUP < 31);

constexpr char kWakeByte = 'w';
constexpr char kSignalByte = 's';

sigset_t TerminalSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

extern "C" void OnTerminalSignal(int signal) {
  const int savedErrno = errno;
  const std::sig_atomic_t bit = static_cast<std::sig_atomic_t>(1) << signal;
  if ((g_seen & bit) != 0) {
    // The same signal again: the system's own action, at once, with the terminal's typing put
    // back as it was (no destructor runs on this way out). The signal is blocked while its
    // handler runs, so the one raised here acts as soon as the handler returns.
    RestoreTerminalNow();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
    errno = savedErrno;
    return;
  }
  g_seen = g_seen | bit;
  g_signal = signal;
  const int fd = g_wakeFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = kSignalByte;
    // A full pipe already wakes the poller: a byte that does not fit is not missed.
    if (::write(fd, &byte, 1) < 0) {
    }
  }
  errno = savedErrno;
}

void Install(int signal, struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = OnTerminalSignal;
  // The terminal signals wait for each other's handler, so that the bits are never lost.
  action.sa_mask = TerminalSignals();
  action.sa_flags = SA_RESTART;
  if (::sigaction(signal, &action, previous) != 0) {
    throw std::system_error(errno, std::generic_category(), "sigaction");
  }
}

int PollTimeout(std::chrono::milliseconds wait) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX));
}

}  // namespace

struct SignalPipe::State {
  UniqueFd read;
  UniqueFd write;
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
  struct sigaction previousHup {};
};

SignalPipe::SignalPipe() : state_(std::make_unique<State>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  state_->read = UniqueFd(fds[0]);
  state_->write = UniqueFd(fds[1]);
  g_signal = 0;
  g_seen = 0;
  g_wakeFd.store(state_->write.Get());
  try {
    Install(SIGINT, &state_->previousInt);
    Install(SIGTERM, &state_->previousTerm);
    // A closed terminal or a lost ssh session ends the run as Ctrl-C does, with the instrument's
    // state reported where it can still be read (a log, a redirected stderr).
    Install(SIGHUP, &state_->previousHup);
  } catch (...) {
    ::sigaction(SIGINT, &state_->previousInt, nullptr);
    ::sigaction(SIGTERM, &state_->previousTerm, nullptr);
    g_wakeFd.store(-1);
    throw;
  }
}

SignalPipe::~SignalPipe() {
  ::sigaction(SIGINT, &state_->previousInt, nullptr);
  ::sigaction(SIGTERM, &state_->previousTerm, nullptr);
  ::sigaction(SIGHUP, &state_->previousHup, nullptr);
  g_wakeFd.store(-1);
}

void SignalPipe::Wake() {
  const char byte = kWakeByte;
  if (::write(state_->write.Get(), &byte, 1) < 0) {
    // EAGAIN: the pipe is full, so the poller wakes anyway.
  }
}

void SignalPipe::WaitFor(std::chrono::milliseconds maxWait) {
  pollfd wait{state_->read.Get(), POLLIN, 0};
  // EINTR (a signal arrived during the wait) needs nothing more: the pipe has its byte.
  ::poll(&wait, 1, PollTimeout(maxWait));
}

SignalPipe::Input SignalPipe::WaitForInput(int inputFd) {
  pollfd fds[2] = {{inputFd, POLLIN, 0}, {state_->read.Get(), POLLIN, 0}};
  if (::poll(fds, 2, -1) < 0) return errno == EINTR ? Input::kWoken : Input::kFailed;
  return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? Input::kReady : Input::kWoken;
}

int SignalPipe::ReadInputByte(int inputFd, char* byte) {
  const ssize_t got = ::read(inputFd, byte, 1);
  if (got > 0) return 1;
  if (got == 0) return 0;
  return errno == EINTR || errno == EAGAIN ? -1 : -2;
}

void SignalPipe::Drain() {
  char bytes[64];
  for (;;) {
    const ssize_t got = ::read(state_->read.Get(), bytes, sizeof bytes);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
}

int SignalPipe::Signal() const {
  return g_signal;
}

struct SignalsBlockedForNewThreads::State {
  sigset_t previous{};
};

SignalsBlockedForNewThreads::SignalsBlockedForNewThreads() : state_(std::make_unique<State>()) {
  const sigset_t set = TerminalSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, &state_->previous);
}

SignalsBlockedForNewThreads::~SignalsBlockedForNewThreads() {
  // A signal that came meanwhile is delivered to this thread as soon as it is unblocked.
  ::pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

}  // namespace vxa::cli
