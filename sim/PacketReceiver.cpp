#include "sim/PacketReceiver.h"

#include <algorithm>
#include <cstring>

#include "link/Crc32.h"

namespace vxa::sim {
namespace {

constexpr uint8_t kStartMarkLow = kStartMark & 0xFF;
constexpr uint8_t kStartMarkHigh = kStartMark >> 8;

}  // namespace

PacketReceiver::PacketReceiver(ProtocolCounters& counters)
    : counters_(counters), rx_(kHeaderSize + kMaxAnswerBody) {}

void PacketReceiver::Restart() {
  filled_ = 0;
  needed_ = kHeaderSize;
}

void PacketReceiver::Heard(Clock::TimePoint now) {
  if (heardAnything_ && now - lastByteAt_ >= kResyncGap) {
    // The line has been quiet: whatever was half-received will not be completed.
    if (filled_ > 0) {
      if (filled_ >= 2) ++counters_.badCommands;
      counters_.discardedBytes += filled_;
    }
    Restart();
    discarding_ = false;
  }
  heardAnything_ = true;
  lastByteAt_ = now;
}

bool PacketReceiver::Take(std::span<const uint8_t>& bytes, std::span<const uint8_t>* packet) {
  while (!bytes.empty()) {
    if (discarding_) {
      counters_.discardedBytes += bytes.size();
      bytes = {};
      return false;
    }
    if (filled_ < 2) {
      // Hunting for a start mark.
      const uint8_t b = bytes.front();
      bytes = bytes.subspan(1);
      const uint8_t want = filled_ == 0 ? kStartMarkLow : kStartMarkHigh;
      if (b == want) {
        rx_[filled_++] = b;
        continue;
      }
      counters_.discardedBytes += filled_ + 1;
      filled_ = 0;
      if (b == kStartMarkLow) {
        rx_[filled_++] = b;
        --counters_.discardedBytes;
      }
      continue;
    }
    const size_t take = std::min(bytes.size(), needed_ - filled_);
    std::memcpy(rx_.data() + filled_, bytes.data(), take);
    filled_ += take;
    bytes = bytes.subspan(take);
    if (filled_ < needed_) continue;
    if (needed_ == kHeaderSize && !CheckHeader()) {
      // The length cannot be trusted, so neither can anything up to the next pause.
      ++counters_.badCommands;
      counters_.discardedBytes += filled_;
      filled_ = 0;
      discarding_ = true;
      continue;
    }
    if (filled_ < needed_) continue;  // the header announced a body
    const size_t total = needed_;
    const size_t body = total - kHeaderSize;
    Restart();
    if (body > 0 && Crc32Jam(rx_.data() + kHeaderSize, body) != 0) {
      ++counters_.badCommands;
      counters_.discardedBytes += total;
      continue;
    }
    *packet = std::span<const uint8_t>(rx_.data(), total);
    return true;
  }
  return false;
}

bool PacketReceiver::CheckHeader() {
  PacketHeader header(rx_.data());
  if (header.Reserved() != 0 || header.EndMark() != kEndMark) return false;
  const uint32_t length = header.Length();
  if (length != 0 && (length <= kCrcSize || length > kMaxAnswerBody)) return false;
  needed_ = kHeaderSize + length;
  return true;
}

}  // namespace vxa::sim
