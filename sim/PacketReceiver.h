#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/Clock.h"
#include "link/Packet.h"
#include "sim/SimTypes.h"

namespace vxa::sim {

// The instrument's receiver: finds whole command packets in the bytes from the line. It hunts for
// the start mark, trusts a header only when its reserved field, end mark and length are sound,
// and drops a packet whose body fails its CRC. What it drops it counts in the counters it is
// given (bad commands, discarded bytes).
class PacketReceiver {
 public:
  // After a packet that fails the header checks the receiver ignores the line until it has been
  // quiet this long; a packet left incomplete for this long is given up.
  static constexpr Clock::Duration kResyncGap = std::chrono::milliseconds(20);

  explicit PacketReceiver(ProtocolCounters& counters);

  // More bytes have come in, the last of them at `now`. Call before Take with those bytes.
  void Heard(Clock::TimePoint now);
  // Takes bytes from the front of `bytes` until a command packet is complete (true, with the
  // whole packet in `packet`, valid until the next call) or `bytes` is used up (false).
  bool Take(std::span<const uint8_t>& bytes, std::span<const uint8_t>* packet);

 private:
  bool CheckHeader();
  void Restart();

  ProtocolCounters& counters_;
  std::vector<uint8_t> rx_;  // one command packet being assembled (header + up to 32768)
  size_t filled_ = 0;
  size_t needed_ = kHeaderSize;
  bool discarding_ = false;
  bool heardAnything_ = false;
  Clock::TimePoint lastByteAt_{};
};

}  // namespace vxa::sim
