#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vxa::test {

// A pseudo-terminal: the test holds the master side, the backend under test opens the slave by
// its path, as it would open /dev/ttyUSB0.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  void CloseMaster();

  void Write(const std::string& bytes);
  // What the master side receives within `within`, up to `count` bytes.
  std::string Read(size_t count, std::chrono::milliseconds within = std::chrono::seconds(5));

 private:
  int master_ = -1;
  std::string slavePath_;
};

// The output speed a terminal reports through termios2 (which <termios.h> cannot show).
uint32_t OutputSpeedOf(int fd);

}  // namespace vxa::test
