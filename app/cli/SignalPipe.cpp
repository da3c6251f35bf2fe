#include "app/cli/SignalPipe.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace vxa::cli {
namespace {

// Process-wide because a signal handler has no other way to find anything. Both are lock-free,
// which is what makes touching them from the handler safe.
std::atomic<int> g_wakeFd{-1};
volatile std::sig_atomic_t g_signal = 0;
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kWakeByte = 'w';
constexpr char kSignalByte = 's';

extern "C" void OnTerminalSignal(int signal) {
  const int savedErrno = errno;
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
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: the second signal takes the default action and ends the program.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  if (::sigaction(signal, &action, previous) != 0) {
    throw std::system_error(errno, std::generic_category(), "sigaction");
  }
}

sigset_t TerminalSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

SignalPipe::SignalPipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  read_ = UniqueFd(fds[0]);
  write_ = UniqueFd(fds[1]);
  g_signal = 0;
  g_wakeFd.store(write_.Get());
  try {
    Install(SIGINT, &previousInt_);
    Install(SIGTERM, &previousTerm_);
    // A closed terminal or a lost ssh session ends the run as Ctrl-C does, with the instrument's
    // state reported where it can still be read (a log, a redirected stderr).
    Install(SIGHUP, &previousHup_);
  } catch (...) {
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    g_wakeFd.store(-1);
    throw;
  }
}

SignalPipe::~SignalPipe() {
  ::sigaction(SIGINT, &previousInt_, nullptr);
  ::sigaction(SIGTERM, &previousTerm_, nullptr);
  ::sigaction(SIGHUP, &previousHup_, nullptr);
  g_wakeFd.store(-1);
}

void SignalPipe::Wake() {
  const char byte = kWakeByte;
  if (::write(write_.Get(), &byte, 1) < 0) {
    // EAGAIN: the pipe is full, so the poller wakes anyway.
  }
}

void SignalPipe::Drain() {
  char bytes[64];
  for (;;) {
    const ssize_t got = ::read(read_.Get(), bytes, sizeof bytes);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
}

int SignalPipe::Signal() const {
  return g_signal;
}

SignalsBlockedForNewThreads::SignalsBlockedForNewThreads() {
  const sigset_t set = TerminalSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsBlockedForNewThreads::~SignalsBlockedForNewThreads() {
  // A signal that came meanwhile is delivered to this thread as soon as it is unblocked.
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace vxa::cli
