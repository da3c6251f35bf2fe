#include "sim/PtyLine.h"

#include <algorithm>

#include "sim/RxQueue.h"

namespace vxa::sim {
namespace {

// Towards the instrument: the program never sends more than one command before it waits for the
// answer, so this is far more than a well-behaved program needs; a flood beyond it is lost, as on
// an overrun receiver.
constexpr size_t kToInstrumentBytes = size_t{1} << 20;
// Whole pieces, and room for a short piece at the end of each read as well.
constexpr size_t kToInstrumentChunks = 2 * kToInstrumentBytes / PtyLine::kPieceBytes;

// Noise is put out in batches of this many USB packets (3.6 ms at 3 Mbaud), not one packet per
// wake-up.
constexpr uint64_t kBabbleBatch = 16;

void EarliestOf(std::optional<Clock::TimePoint>* earliest, Clock::TimePoint candidate) {
  if (!*earliest || candidate < **earliest) *earliest = candidate;
}

// When the first byte that has not arrived by `now` arrives, if any is queued.
template <typename Queue>
std::optional<Clock::TimePoint> NextArrival(const Queue& queue, Clock::TimePoint now) {
  const size_t arrived = queue.ArrivedBy(now);
  if (arrived >= queue.Queued()) return std::nullopt;
  return queue.WhenArrived(arrived + 1);
}

}  // namespace

PtyLine::PtyLine(Timing timing)
    : toInstrument_(std::make_unique<RxQueue>(kToInstrumentBytes, kToInstrumentChunks)),
      toHost_(timing.baud, timing.latencyTimer) {}

PtyLine::~PtyLine() = default;

PtyLine::Counters PtyLine::counters() const {
  const LineToHost::Counters& toHost = toHost_.counters();
  return Counters{.bytesFromHost = bytesFromHost_,
                  .bytesToHost = toHost.bytesToHost,
                  .overrunBytes = overrunFromHost_ + toHost.overrunBytes,
                  .answersLostInBabble = toHost.answersLostInBabble};
}

// ---- Host to instrument ---------------------------------------------------------------------

void PtyLine::FromHost(std::span<const uint8_t> bytes, Clock::TimePoint now) {
  bytesFromHost_ += bytes.size();
  // The bytes went into the pty at about `now`; they follow whatever is still on the line.
  const Clock::TimePoint start = std::max(now, instrumentLineFreeAt_);
  for (size_t offset = 0; offset < bytes.size(); offset += kPieceBytes) {
    const size_t length = std::min(kPieceBytes, bytes.size() - offset);
    const Clock::TimePoint arrives = start + LineTime(offset + length);
    if (!toInstrument_->Push(bytes.data() + offset, length, arrives)) {
      overrunFromHost_ += bytes.size() - offset;
      return;
    }
    instrumentLineFreeAt_ = arrives;
  }
}

size_t PtyLine::TakeArrived(Clock::TimePoint now, std::span<uint8_t> out,
                            Clock::TimePoint* arrivedAt) {
  const size_t count = std::min(toInstrument_->ArrivedBy(now), out.size());
  if (count == 0) return 0;
  if (arrivedAt != nullptr) *arrivedAt = toInstrument_->WhenArrived(count).value_or(now);
  return toInstrument_->Pop(out.data(), count);
}

// ---- Instrument to host ---------------------------------------------------------------------

void PtyLine::Advance(Clock::TimePoint now) {
  toHost_.Advance(now);
}

size_t PtyLine::TakeForHost(Clock::TimePoint now, std::span<uint8_t> out) {
  return toHost_.Pop(out.first(std::min(toHost_.ArrivedBy(now), out.size())));
}

void PtyLine::ClearToHost(Clock::TimePoint now) {
  toHost_.Advance(now);
  // What the instrument is still sending keeps the line busy; only the bridge's queue is dropped.
  toHost_.Clear(std::max(toHost_.LineFreeAt(), now));
}

std::optional<Clock::TimePoint> PtyLine::NextEvent(Clock::TimePoint now, bool hostBlocked) const {
  std::optional<Clock::TimePoint> next = NextArrival(*toInstrument_, now);
  if (auto toHost = NextArrival(toHost_, now)) EarliestOf(&next, *toHost);
  if (toHost_.Babbling()) {
    if (auto until = toHost_.BabbleUntil(); until != Clock::TimePoint::max()) {
      EarliestOf(&next, std::max(now, until));
    }
    if (!hostBlocked) {
      if (auto batch = toHost_.NoiseArrival(kBabbleBatch)) EarliestOf(&next, std::max(now, *batch));
    }
  }
  return next;
}

}  // namespace vxa::sim
