#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "link/Clock.h"
#include "sim/InstrumentModel.h"
#include "sim/LineToHost.h"

namespace vxa::sim {

class RxQueue;

// The serial line between the program and the instrument when the instrument is served on a
// pseudo-terminal. A pty moves bytes as fast as both sides take them, so the line is played here:
// the program's bytes reach the instrument at 11 bits per byte at the line's baud rate, and the
// answers go back on a LineToHost. It keeps time only by the time points it is given, so the
// pacing can be checked without waiting.
class PtyLine final : public AnswerSink {
 public:
  struct Timing {
    uint32_t baud = 3'000'000;
    Clock::Duration latencyTimer = std::chrono::milliseconds(2);
  };

  struct Counters {
    uint64_t bytesFromHost = 0;
    uint64_t bytesToHost = 0;   // put on the line, noise included
    uint64_t overrunBytes = 0;  // lost because a queue was full (noise nobody reads, mostly)
    uint64_t answersLostInBabble = 0;
  };

  // The program's bytes reach the instrument in pieces of at most this many, each at the time its
  // last byte has crossed the line. One read from the pty (up to 4 KB, 30 ms of line at 1.5
  // Mbaud) delivered at its end would look to the instrument like a pause longer than its
  // receiver's resynchronising gap in the middle of a packet.
  static constexpr size_t kPieceBytes = 256;

  explicit PtyLine(Timing timing);
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Host to instrument: bytes the program wrote, taken from the pty at `now`. They reach the
  // instrument as the line carries them, one after the other, piece by piece.
  void FromHost(std::span<const uint8_t> bytes, Clock::TimePoint now);
  // The bytes that have reached the instrument by `now` (at most out.size(); give the instrument
  // at most kPieceBytes at a time), and when the last of them arrived. Returns how many were
  // taken.
  size_t TakeArrived(Clock::TimePoint now, std::span<uint8_t> out, Clock::TimePoint* arrivedAt);

  // Lets the line's own time run to `now`: a babbling line puts out its noise. Call before the
  // other methods at each wake-up.
  void Advance(Clock::TimePoint now);

  // Instrument to host: bytes that have come down the line by `now` (at most out.size()), in
  // order. Returns how many were taken.
  size_t TakeForHost(Clock::TimePoint now, std::span<uint8_t> out);

  // The next moment after `now` something is due in either direction (Advance(now) first). With
  // `hostBlocked` (the program is not reading) noise does not call for a wake-up: it would only be
  // lost.
  std::optional<Clock::TimePoint> NextEvent(Clock::TimePoint now, bool hostBlocked) const;

  // Drops everything on its way to the host: the program reopened the port.
  void ClearToHost(Clock::TimePoint now);

  bool Unplugged() const { return unplugged_; }
  bool Babbling() const { return toHost_.Babbling(); }
  Counters counters() const;
  Clock::Duration LineTime(uint64_t bytes) const { return toHost_.LineTime(bytes); }

  // AnswerSink.
  void Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) override {
    toHost_.Transmit(packet, readyAt);
  }
  void StartBabble(Clock::TimePoint from, Clock::TimePoint until) override {
    toHost_.StartBabble(from, until);
  }
  void Disconnect() override { unplugged_ = true; }

 private:
  std::unique_ptr<RxQueue> toInstrument_;
  LineToHost toHost_;
  Clock::TimePoint instrumentLineFreeAt_ = Clock::TimePoint::min();
  uint64_t bytesFromHost_ = 0;
  uint64_t overrunFromHost_ = 0;
  bool unplugged_ = false;
};

}  // namespace vxa::sim
