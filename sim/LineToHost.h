#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "link/Clock.h"

namespace vxa::sim {

class RxQueue;

// Bits per byte on the line: start, 8 data, 2 stop.
inline constexpr uint64_t kBitsPerByte = 11;
// Payload of one full USB packet from the bridge (64 bytes less its 2 status bytes).
inline constexpr size_t kUsbPacketData = 62;

// How long `bytes` take on the line at `baud`, rounded up: a byte is never there before its last
// stop bit.
Clock::Duration LineTime(uint64_t bytes, uint32_t baud);

// The line from the instrument back to the program, as far as the bridge's receive queue: answers
// cross it at 11 bits per byte and leave the bridge in 62-byte USB packets, a short tail held for
// the latency timer; a babbling line sends noise in whole USB packets. It keeps time only by the
// time points it is given. The in-process bridge and the pty server both put their instrument's
// answers on one of these. Not thread-safe: the owner locks.
class LineToHost {
 public:
  struct Counters {
    uint64_t bytesToHost = 0;   // put on the line, noise included
    uint64_t overrunBytes = 0;  // lost because the queue was full
    uint64_t answersLostInBabble = 0;
  };

  // `paced` false: an answer is there whole at the moment it is ready (noise keeps its pace).
  LineToHost(uint32_t baud, Clock::Duration latencyTimer, bool paced = true);
  ~LineToHost();
  LineToHost(const LineToHost&) = delete;
  LineToHost& operator=(const LineToHost&) = delete;

  void SetBaud(uint32_t baud) { baud_ = baud; }
  void SetLatencyTimer(Clock::Duration latencyTimer) { latency_ = latencyTimer; }
  uint32_t Baud() const { return baud_; }
  Clock::Duration LineTime(uint64_t bytes) const { return sim::LineTime(bytes, baud_); }

  // True when an answer ready at `readyAt` would be lost in the noise.
  bool Drowns(Clock::TimePoint readyAt) const { return babbling_ && readyAt < babbleUntil_; }
  // One answer, ready at `readyAt`: it follows whatever is still on the line.
  void Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt);

  // The line sends noise from `from` (or once it is free) until `until` (TimePoint::max(): until
  // StopBabble).
  void StartBabble(Clock::TimePoint from, Clock::TimePoint until);
  void StopBabble(Clock::TimePoint now);
  bool Babbling() const { return babbling_; }
  Clock::TimePoint BabbleUntil() const { return babbleUntil_; }
  // Lets the line's time run to `now`: a babbling line puts out its noise, as far as the queue
  // has room. Call before looking at the queue.
  void Advance(Clock::TimePoint now);
  // When `packets` more USB packets of noise will have arrived, if the line is still babbling by
  // then.
  std::optional<Clock::TimePoint> NoiseArrival(uint64_t packets) const;

  // Drops everything queued; the line takes new answers from `lineFreeFrom` on.
  void Clear(Clock::TimePoint lineFreeFrom);
  // When the last answer (or the noise) is off the line.
  Clock::TimePoint LineFreeAt() const { return lineFreeAt_; }

  // The bridge's receive queue, as the program sees it.
  size_t Queued() const;
  size_t Free() const;
  size_t ArrivedBy(Clock::TimePoint now) const;
  std::optional<Clock::TimePoint> WhenArrived(size_t count) const;
  size_t Pop(std::span<uint8_t> out);

  const Counters& counters() const { return counters_; }

 private:
  void Push(const uint8_t* data, size_t count, Clock::TimePoint at);

  uint32_t baud_;
  Clock::Duration latency_;
  const bool paced_;
  std::unique_ptr<RxQueue> queue_;
  Clock::TimePoint lineFreeAt_ = Clock::TimePoint::min();
  Counters counters_;

  bool babbling_ = false;
  Clock::TimePoint babbleStart_{};
  Clock::TimePoint babbleUntil_{};
  uint64_t babbleChunks_ = 0;  // USB packets of noise accounted for since babbleStart_
  std::array<uint8_t, kUsbPacketData> babbleChunk_{};
};

}  // namespace vxa::sim
