#pragma once

#include <unistd.h>

#include <utility>

namespace vxa {

// Owns one file descriptor and closes it when it goes, so that no early return of the open
// sequence can leak a port that then stays exclusively held.
class UniqueFd final {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Gives the descriptor up to a new owner (a FILE stream), which closes it from then on.
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
  // Closes now; the result of close() is what a caller that cares may report.
  int Reset() {
    if (fd_ < 0) return 0;
    const int result = ::close(std::exchange(fd_, -1));
    return result;
  }

 private:
  int fd_ = -1;
};

}  // namespace vxa
