#include "sim/LineToHost.h"

#include <algorithm>

#include "sim/RxQueue.h"

namespace vxa::sim {
namespace {

constexpr uint64_t kMicrosPerSecond = 1'000'000;
// Room for two of the largest answers and then some; the chunk ring allows very short packets.
constexpr size_t kQueueBytes = size_t{1} << 17;
constexpr size_t kQueueChunks = size_t{1} << 14;

// Line noise: the same bytes every run, so that a failing test can be repeated.
uint8_t NoiseByte(uint64_t position) {
  uint64_t x = position * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<uint8_t>(x >> 24);
}

}  // namespace

Clock::Duration LineTime(uint64_t bytes, uint32_t baud) {
  return Clock::Duration(
      static_cast<int64_t>((bytes * kBitsPerByte * kMicrosPerSecond + baud - 1) / baud));
}

LineToHost::LineToHost(uint32_t baud, Clock::Duration latencyTimer, bool paced)
    : baud_(baud),
      latency_(latencyTimer),
      paced_(paced),
      queue_(std::make_unique<RxQueue>(kQueueBytes, kQueueChunks)) {}

LineToHost::~LineToHost() = default;

void LineToHost::Push(const uint8_t* data, size_t count, Clock::TimePoint at) {
  if (!queue_->Push(data, count, at)) counters_.overrunBytes += count;
}

void LineToHost::Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) {
  if (Drowns(readyAt)) {
    ++counters_.answersLostInBabble;
    return;
  }
  counters_.bytesToHost += packet.size();
  if (!paced_) {
    Push(packet.data(), packet.size(), readyAt);
    return;
  }
  // Full USB packets leave the bridge as soon as they fill; the rest waits for the latency timer.
  const Clock::TimePoint start = std::max(readyAt, lineFreeAt_);
  for (size_t offset = 0; offset < packet.size(); offset += kUsbPacketData) {
    const size_t length = std::min(kUsbPacketData, packet.size() - offset);
    Clock::TimePoint at = start + LineTime(offset + length);
    if (length < kUsbPacketData) at += latency_;
    Push(packet.data() + offset, length, at);
  }
  lineFreeAt_ = start + LineTime(packet.size());
}

void LineToHost::StartBabble(Clock::TimePoint from, Clock::TimePoint until) {
  babbling_ = true;
  babbleStart_ = std::max(from, lineFreeAt_);
  babbleUntil_ = until;
  babbleChunks_ = 0;
}

void LineToHost::StopBabble(Clock::TimePoint now) {
  if (!babbling_) return;
  Advance(now);
  babbling_ = false;
  babbleUntil_ = now;
  lineFreeAt_ = std::max(lineFreeAt_, now);
}

void LineToHost::Advance(Clock::TimePoint now) {
  if (!babbling_) return;
  const Clock::TimePoint until = std::min(now, babbleUntil_);
  if (until > babbleStart_) {
    // The noise fills whole USB packets all the time, so the latency timer never matters.
    const auto elapsed = static_cast<uint64_t>((until - babbleStart_).count());
    const uint64_t due = elapsed * baud_ / (kBitsPerByte * kMicrosPerSecond) / kUsbPacketData;
    if (due > babbleChunks_) {
      // Nobody reading: the queue is full and the rest of the noise is lost.
      const uint64_t fresh = due - babbleChunks_;
      const uint64_t kept = std::min<uint64_t>(fresh, queue_->Free() / kUsbPacketData);
      for (uint64_t chunk = babbleChunks_; chunk < babbleChunks_ + kept; ++chunk) {
        for (size_t i = 0; i < kUsbPacketData; ++i) {
          babbleChunk_[i] = NoiseByte(chunk * kUsbPacketData + i);
        }
        Push(babbleChunk_.data(), kUsbPacketData,
             babbleStart_ + LineTime((chunk + 1) * kUsbPacketData));
      }
      counters_.overrunBytes += (fresh - kept) * kUsbPacketData;
      counters_.bytesToHost += fresh * kUsbPacketData;
      babbleChunks_ = due;
    }
  }
  if (now >= babbleUntil_) {
    babbling_ = false;
    lineFreeAt_ = std::max(lineFreeAt_, babbleUntil_);
  }
}

std::optional<Clock::TimePoint> LineToHost::NoiseArrival(uint64_t packets) const {
  if (!babbling_) return std::nullopt;
  const Clock::TimePoint at = babbleStart_ + LineTime((babbleChunks_ + packets) * kUsbPacketData);
  if (at > babbleUntil_) return std::nullopt;
  return at;
}

void LineToHost::Clear(Clock::TimePoint lineFreeFrom) {
  queue_->Clear();
  lineFreeAt_ = lineFreeFrom;
}

size_t LineToHost::Queued() const {
  return queue_->Queued();
}
size_t LineToHost::Free() const {
  return queue_->Free();
}
size_t LineToHost::ArrivedBy(Clock::TimePoint now) const {
  return queue_->ArrivedBy(now);
}
std::optional<Clock::TimePoint> LineToHost::WhenArrived(size_t count) const {
  return queue_->WhenArrived(count);
}
size_t LineToHost::Pop(std::span<uint8_t> out) {
  return out.empty() ? 0 : queue_->Pop(out.data(), out.size());
}

}  // namespace vxa::sim
