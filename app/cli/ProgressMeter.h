#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "link/Clock.h"

namespace vxa::cli {

// The rate of a transfer and the time it still needs, from the moments its position moved over
// the last few seconds of the clock the transfer runs on (in virtual time the rate is a virtual
// one). Measuring between moves, not between looks, keeps the figure steady while whole blocks
// arrive in steps; a transfer that stops moving shows a falling rate.
class ProgressMeter {
 public:
  // The rate is measured over this much of the recent past: long enough to smooth the steps of
  // whole blocks, short enough to follow a change of speed.
  static constexpr Clock::Duration kWindow = std::chrono::seconds(3);
  // Before this much time has been seen no rate is given: two samples close together say little.
  static constexpr Clock::Duration kMinimumSpan = std::chrono::milliseconds(200);
  // A position that has not moved for this long counts as a stall, and the time since counts.
  static constexpr Clock::Duration kStall = std::chrono::seconds(1);

  void Reset() { samples_.clear(); }
  // The position at `when`. One that went back (a new transfer) starts the measure over; one
  // that has not moved adds nothing.
  void Add(Clock::TimePoint when, int64_t position);

  // Bytes per second as of `now`, when there is enough to say.
  std::optional<double> BytesPerSecond(Clock::TimePoint now) const;
  // Whole seconds (rounded up) until `total` is reached at the current rate.
  std::optional<std::chrono::seconds> TimeLeft(int64_t total, Clock::TimePoint now) const;

 private:
  struct Sample {
    Clock::TimePoint when;
    int64_t position;
  };
  std::deque<Sample> samples_;
};

}  // namespace vxa::cli
