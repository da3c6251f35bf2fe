#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vxa::test {

// What a finished child left behind.
struct ChildResult {
  int exitCode = -1;  // 128 + n when ended by signal n
  std::string out;
  std::string err;
};

// The program under test run as a child process with its stdout and stderr on pipes and its
// stdin from /dev/null (or the text given), in the current directory.
class ChildProcess {
 public:
  // Starts `program` with `arguments`; the child gets no terminal anywhere, and no locale
  // variables but those in `environment` ("LANG=...").
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads both pipes until `ready` is true of what stderr holds so far, or until they close.
  // True when `ready` was met.
  bool WaitForStderr(const std::function<bool(const std::string&)>& ready);
  // The same of what stdout holds so far.
  bool WaitForStdout(const std::function<bool(const std::string&)>& ready);
  // Reads both pipes to their end and reaps the child.
  ChildResult Finish();

 private:
  // One poll round over the open pipes; false when both are closed.
  bool Pump(int timeoutMs);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  ChildResult result_;
};

// Runs to the end.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {});

}  // namespace vxa::test
