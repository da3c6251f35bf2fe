#include "sim/RxQueue.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vxa::sim {

RxQueue::RxQueue(size_t byteCapacity, size_t chunkCapacity)
    : bytes_(std::bit_ceil(std::max<size_t>(byteCapacity, 1))),
      chunks_(std::bit_ceil(std::max<size_t>(chunkCapacity, 1))) {}

bool RxQueue::Push(const uint8_t* data, size_t count, Clock::TimePoint at) {
  if (count == 0) return true;
  if (count > Free() || chunkCount_ == chunks_.size()) return false;
  const size_t mask = bytes_.size() - 1;
  const size_t start = static_cast<size_t>(tail_) & mask;
  const size_t first = std::min(count, bytes_.size() - start);
  std::memcpy(bytes_.data() + start, data, first);
  std::memcpy(bytes_.data(), data + first, count - first);
  tail_ += count;
  // A USB packet cannot overtake the one before it.
  lastAt_ = std::max(lastAt_, at);
  chunks_[(chunkHead_ + chunkCount_) & (chunks_.size() - 1)] = Chunk{tail_, lastAt_};
  ++chunkCount_;
  return true;
}

size_t RxQueue::ArrivedBy(Clock::TimePoint now) const {
  uint64_t arrivedEnd = head_;
  for (size_t i = 0; i < chunkCount_; ++i) {
    const Chunk& chunk = ChunkAt(i);
    if (chunk.at > now) break;
    arrivedEnd = chunk.end;
  }
  return static_cast<size_t>(arrivedEnd - head_);
}

std::optional<Clock::TimePoint> RxQueue::WhenArrived(size_t count) const {
  if (count == 0) return Clock::TimePoint::min();
  const uint64_t wanted = head_ + count;
  for (size_t i = 0; i < chunkCount_; ++i) {
    const Chunk& chunk = ChunkAt(i);
    if (chunk.end >= wanted) return chunk.at;
  }
  return std::nullopt;
}

size_t RxQueue::Pop(uint8_t* out, size_t count) {
  count = std::min(count, Queued());
  const size_t mask = bytes_.size() - 1;
  const size_t start = static_cast<size_t>(head_) & mask;
  const size_t first = std::min(count, bytes_.size() - start);
  std::memcpy(out, bytes_.data() + start, first);
  std::memcpy(out + first, bytes_.data(), count - first);
  head_ += count;
  while (chunkCount_ > 0 && ChunkAt(0).end <= head_) {
    chunkHead_ = (chunkHead_ + 1) & (chunks_.size() - 1);
    --chunkCount_;
  }
  return count;
}

void RxQueue::Clear() {
  head_ = tail_;
  chunkHead_ = 0;
  chunkCount_ = 0;
  lastAt_ = Clock::TimePoint::min();
}

}  // namespace vxa::sim
