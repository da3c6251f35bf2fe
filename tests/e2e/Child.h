#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"

namespace vxa::e2e {

// A program started by a test, with stdout and stderr on pipes and stdin on /dev/null. The child
// never outlives its owner: the destructor kills it if it is still running and reaps it, so a
// failed assertion cannot leave a simulator or a CLI behind.
class Child {
 public:
  struct Result {
    bool finished = false;  // false: still running at the deadline
    int exitCode = -1;      // when it exited
    int signal = 0;         // when a signal ended it
    std::string out, err;   // everything it wrote (after any line taken with ReadLine)
  };

  // Null with the reason in `error` when it cannot be started.
  static std::unique_ptr<Child> Start(const std::vector<std::string>& argv, std::string* error);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  pid_t pid() const { return pid_; }
  // The next line on stdout without its newline; nothing at end of file or at the deadline.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // Collects the output until the child has ended or `timeout` has passed.
  Result Wait(std::chrono::milliseconds timeout);
  void Signal(int signal);

 private:
  Child(pid_t pid, UniqueFd process, UniqueFd out, UniqueFd err)
      : pid_(pid), process_(std::move(process)), out_(std::move(out)), err_(std::move(err)) {}

  pid_t pid_ = -1;
  UniqueFd process_;  // pidfd: readable once the child has ended
  UniqueFd out_, err_;
  std::string outBuffer_;
  std::string errBuffer_;
  bool reaped_ = false;
  Result result_;
};

}  // namespace vxa::e2e
