#include "sim/PtyLine.h"

#include <algorithm>

#include "sim/RxQueue.h"

namespace vxa::sim {
namespace {

// Bits per byte on the line: start, 8 data, 2 stop.
constexpr uint64_t kBitsPerByte = 11;
constexpr uint64_t kMicrosPerSecond = 1'000'000;
// Payload of one full USB packet from the bridge (64 bytes less its 2 status bytes).
constexpr size_t kUsbPacketData = 62;

// Towards the host: as much as the simulated bridge holds. Towards the instrument: the program
// never sends more than one command before it waits for the answer, so this is far more than a
// well-behaved program needs; a flood beyond it is lost, as on an overrun receiver.
constexpr size_t kToHostBytes = size_t{1} << 17;
constexpr size_t kToHostChunks = size_t{1} << 14;
constexpr size_t kToInstrumentBytes = size_t{1} << 20;
constexpr size_t kToInstrumentChunks = size_t{1} << 12;

// Noise is put out in batches of this many USB packets (3.6 ms at 3 Mbaud), not one packet per
// wake-up.
constexpr uint64_t kBabbleBatch = 16;

// The same noise every run, so that a failing test can be repeated.
uint8_t NoiseByte(uint64_t position) {
  uint64_t x = position * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<uint8_t>(x >> 24);
}

void EarliestOf(std::optional<Clock::TimePoint>* earliest, Clock::TimePoint candidate) {
  if (!*earliest || candidate < **earliest) *earliest = candidate;
}

// When the first byte that has not arrived by `now` arrives, if any is queued.
std::optional<Clock::TimePoint> NextArrival(const RxQueue& queue, Clock::TimePoint now) {
  const size_t arrived = queue.ArrivedBy(now);
  if (arrived >= queue.Queued()) return std::nullopt;
  return queue.WhenArrived(arrived + 1);
}

}  // namespace

PtyLine::PtyLine(Timing timing)
    : timing_(timing),
      toInstrument_(std::make_unique<RxQueue>(kToInstrumentBytes, kToInstrumentChunks)),
      toHost_(std::make_unique<RxQueue>(kToHostBytes, kToHostChunks)) {}

PtyLine::~PtyLine() = default;

Clock::Duration PtyLine::LineTime(uint64_t bytes) const {
  // Rounded up: a byte is never there before its last stop bit.
  const uint64_t baud = timing_.baud;
  return Clock::Duration(
      static_cast<int64_t>((bytes * kBitsPerByte * kMicrosPerSecond + baud - 1) / baud));
}

// ---- Host to instrument ---------------------------------------------------------------------

void PtyLine::FromHost(std::span<const uint8_t> bytes, Clock::TimePoint now) {
  if (bytes.empty()) return;
  counters_.bytesFromHost += bytes.size();
  // The bytes went into the pty at about `now`; they follow whatever is still on the line.
  const Clock::TimePoint arrives = std::max(now, instrumentLineFreeAt_) + LineTime(bytes.size());
  if (!toInstrument_->Push(bytes.data(), bytes.size(), arrives)) {
    counters_.overrunBytes += bytes.size();
    return;
  }
  instrumentLineFreeAt_ = arrives;
}

size_t PtyLine::TakeArrived(Clock::TimePoint now, std::span<uint8_t> out,
                            Clock::TimePoint* arrivedAt) {
  const size_t count = std::min(toInstrument_->ArrivedBy(now), out.size());
  if (count == 0) return 0;
  if (arrivedAt != nullptr) *arrivedAt = toInstrument_->WhenArrived(count).value_or(now);
  return toInstrument_->Pop(out.data(), count);
}

// ---- Instrument to host ---------------------------------------------------------------------

void PtyLine::Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) {
  if (babbling_ && readyAt < babbleUntil_) {
    ++counters_.answersLostInBabble;
    return;
  }
  counters_.bytesToHost += packet.size();
  // Full USB packets leave the bridge as soon as they fill; the rest waits for the latency timer.
  const Clock::TimePoint start = std::max(readyAt, hostLineFreeAt_);
  for (size_t offset = 0; offset < packet.size(); offset += kUsbPacketData) {
    const size_t length = std::min(kUsbPacketData, packet.size() - offset);
    Clock::TimePoint at = start + LineTime(offset + length);
    if (length < kUsbPacketData) at += timing_.latencyTimer;
    if (!toHost_->Push(packet.data() + offset, length, at)) counters_.overrunBytes += length;
  }
  hostLineFreeAt_ = start + LineTime(packet.size());
}

void PtyLine::StartBabble(Clock::TimePoint from, Clock::TimePoint until) {
  babbling_ = true;
  babbleStart_ = std::max(from, hostLineFreeAt_);
  babbleUntil_ = until;
  babbleChunks_ = 0;
}

void PtyLine::Advance(Clock::TimePoint now) {
  if (!babbling_) return;
  const Clock::TimePoint until = std::min(now, babbleUntil_);
  if (until > babbleStart_) {
    const auto elapsed = static_cast<uint64_t>((until - babbleStart_).count());
    const uint64_t due =
        elapsed * timing_.baud / (kBitsPerByte * kMicrosPerSecond) / kUsbPacketData;
    if (due > babbleChunks_) {
      // Nobody reading: the bridge's queue is full and the rest of the noise is lost.
      const uint64_t fresh = due - babbleChunks_;
      const uint64_t kept = std::min<uint64_t>(fresh, toHost_->Free() / kUsbPacketData);
      for (uint64_t chunk = babbleChunks_; chunk < babbleChunks_ + kept; ++chunk) {
        for (size_t i = 0; i < kUsbPacketData; ++i) {
          babbleChunk_[i] = NoiseByte(chunk * kUsbPacketData + i);
        }
        const Clock::TimePoint at = babbleStart_ + LineTime((chunk + 1) * kUsbPacketData);
        if (!toHost_->Push(babbleChunk_.data(), kUsbPacketData, at)) {
          counters_.overrunBytes += kUsbPacketData;
        }
      }
      counters_.overrunBytes += (fresh - kept) * kUsbPacketData;
      counters_.bytesToHost += fresh * kUsbPacketData;
    }
    babbleChunks_ = std::max(babbleChunks_, due);
  }
  if (now >= babbleUntil_) {
    babbling_ = false;
    hostLineFreeAt_ = std::max(hostLineFreeAt_, babbleUntil_);
  }
}

size_t PtyLine::TakeForHost(Clock::TimePoint now, std::span<uint8_t> out) {
  const size_t count = std::min(toHost_->ArrivedBy(now), out.size());
  return count == 0 ? 0 : toHost_->Pop(out.data(), count);
}

void PtyLine::ClearToHost(Clock::TimePoint now) {
  Advance(now);
  toHost_->Clear();
  hostLineFreeAt_ = std::max(hostLineFreeAt_, now);
}

std::optional<Clock::TimePoint> PtyLine::NextEvent(Clock::TimePoint now, bool hostBlocked) const {
  std::optional<Clock::TimePoint> next = NextArrival(*toInstrument_, now);
  if (auto toHost = NextArrival(*toHost_, now)) EarliestOf(&next, *toHost);
  if (babbling_) {
    if (babbleUntil_ != Clock::TimePoint::max()) EarliestOf(&next, std::max(now, babbleUntil_));
    if (!hostBlocked) {
      const Clock::TimePoint batch =
          babbleStart_ + LineTime((babbleChunks_ + kBabbleBatch) * kUsbPacketData);
      EarliestOf(&next, std::max(now, batch));
    }
  }
  return next;
}

}  // namespace vxa::sim
