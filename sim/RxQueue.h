#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/Clock.h"

namespace vxa::sim {

// The bridge's receive queue: bytes on their way to the host, each run of them (one USB packet)
// with the time it reaches the host. Storage is fixed at construction; nothing is allocated while
// bytes pass through.
class RxQueue {
 public:
  // Both capacities are rounded up to powers of two.
  RxQueue(size_t byteCapacity, size_t chunkCapacity);

  size_t Queued() const { return static_cast<size_t>(tail_ - head_); }
  size_t Free() const { return bytes_.size() - Queued(); }

  // Appends bytes that arrive together at `at` (never before bytes already queued). Returns false
  // and appends nothing when there is no room.
  bool Push(const uint8_t* data, size_t count, Clock::TimePoint at);

  // Bytes at the front that have arrived by `now`.
  size_t ArrivedBy(Clock::TimePoint now) const;
  // When the first `count` bytes will all have arrived, if that many are queued.
  std::optional<Clock::TimePoint> WhenArrived(size_t count) const;

  // Takes up to `count` bytes from the front (the caller has checked that they have arrived).
  size_t Pop(uint8_t* out, size_t count);
  void Clear();

 private:
  struct Chunk {
    uint64_t end;  // position just after the chunk's last byte
    Clock::TimePoint at;
  };
  const Chunk& ChunkAt(size_t i) const { return chunks_[(chunkHead_ + i) & (chunks_.size() - 1)]; }

  std::vector<uint8_t> bytes_;
  std::vector<Chunk> chunks_;
  uint64_t head_ = 0;  // positions count every byte ever queued
  uint64_t tail_ = 0;
  size_t chunkHead_ = 0;
  size_t chunkCount_ = 0;
  Clock::TimePoint lastAt_ = Clock::TimePoint::min();
};

}  // namespace vxa::sim
