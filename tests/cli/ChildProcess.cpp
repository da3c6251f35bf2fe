#include "tests/cli/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/ChildEnvironment.h"

namespace vxa::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<std::string> argv_storage;
  argv_storage.push_back(program);
  argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const ChildEnvironment childEnvironment(environment);
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), childEnvironment.Get()) ==
      0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (outFd_ >= 0) ::close(outFd_);
  if (errFd_ >= 0) ::close(errFd_);
}

bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return false;
  int* owners[2] = {&outFd_, &errFd_};
  std::string* sinks[2] = {&result_.out, &result_.err};
  for (int i = 0; i < 2; ++i) {
    if (*owners[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(*owners[i], buffer, sizeof buffer);
    if (got > 0) {
      sinks[i]->append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      ::close(*owners[i]);
      *owners[i] = -1;
    }
  }
  return outFd_ >= 0 || errFd_ >= 0;
}

bool ChildProcess::WaitForStderr(const std::function<bool(const std::string&)>& ready) {
  while (!ready(result_.err)) {
    if (!Pump(-1)) return ready(result_.err);
  }
  return true;
}

bool ChildProcess::WaitForStdout(const std::function<bool(const std::string&)>& ready) {
  while (!ready(result_.out)) {
    if (!Pump(-1)) return ready(result_.out);
  }
  return true;
}

ChildResult ChildProcess::Finish() {
  while (Pump(-1)) {
  }
  if (pid_ > 0) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
      result_.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result_.exitCode = 128 + WTERMSIG(status);
    }
    pid_ = -1;
  }
  return result_;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment) {
  ChildProcess child(program, arguments, environment);
  return child.Finish();
}

}  // namespace vxa::test
