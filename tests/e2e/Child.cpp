#include "tests/e2e/Child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tests/support/ChildEnvironment.h"

namespace vxa::e2e {
namespace {

using SteadyClock = std::chrono::steady_clock;

int MillisLeft(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

// Appends what is there; false at end of file.
bool Drain(UniqueFd& fd, std::string* into) {
  char chunk[4096];
  const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
  if (n > 0) {
    into->append(chunk, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && errno == EINTR) return true;
  fd.Reset();
  return false;
}

}  // namespace

std::unique_ptr<Child> Child::Start(const std::vector<std::string>& argv, std::string* error) {
  auto fail = [error](const char* what) -> std::unique_ptr<Child> {
    *error = std::string(what) + ": " + std::strerror(errno);
    return nullptr;
  };
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return fail("pipe");
  UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return fail("pipe");
  UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), STDERR_FILENO);
  // The child starts with the signal handling of a program started from a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const test::ChildEnvironment environment;
  const int spawned =
      ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environment.Get());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    errno = spawned;
    return fail(argv[0].c_str());
  }
  UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!process.IsOpen()) {
    const int err = errno;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    errno = err;
    return fail("pidfd_open");
  }
  return std::unique_ptr<Child>(
      new Child(pid, std::move(process), std::move(outRead), std::move(errRead)));
}

Child::~Child() {
  if (reaped_) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void Child::Signal(int signal) {
  if (!reaped_) ::kill(pid_, signal);
}

std::optional<std::string> Child::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  for (;;) {
    const size_t newline = outBuffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = outBuffer_.substr(0, newline);
      outBuffer_.erase(0, newline + 1);
      return line;
    }
    if (!out_.IsOpen()) return std::nullopt;
    pollfd fd{out_.Get(), POLLIN, 0};
    const int ready = ::poll(&fd, 1, MillisLeft(deadline));
    if (ready == 0) return std::nullopt;
    if (ready > 0) Drain(out_, &outBuffer_);
  }
}

Child::Result Child::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  // Until the child has ended and both pipes are at their end (or the deadline).
  while (!reaped_ || out_.IsOpen() || err_.IsOpen()) {
    pollfd fds[3] = {{out_.Get(), POLLIN, 0},
                     {err_.Get(), POLLIN, 0},
                     {reaped_ ? -1 : process_.Get(), POLLIN, 0}};
    const int ready = ::poll(fds, 3, MillisLeft(deadline));
    if (ready == 0) break;
    if (ready < 0) continue;  // EINTR
    if (fds[0].revents) Drain(out_, &outBuffer_);
    if (fds[1].revents) Drain(err_, &errBuffer_);
    if (fds[2].revents) {
      int status = 0;
      if (::waitpid(pid_, &status, 0) == pid_) {
        reaped_ = true;
        result_.finished = true;
        if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
      }
    }
  }
  result_.out = outBuffer_;
  result_.err = errBuffer_;
  return result_;
}

}  // namespace vxa::e2e
