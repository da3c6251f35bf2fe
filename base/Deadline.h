#pragma once

#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>

namespace vxa {

// A limit in real time for a wait that polls or loops; none (nullopt) waits without a limit, as a
// timeout of 0 does in the bridge vendor's library.
using SteadyClock = std::chrono::steady_clock;
using Deadline = std::optional<SteadyClock::time_point>;

inline Deadline DeadlineAfter(uint32_t timeoutMs) {
  if (timeoutMs == 0) return std::nullopt;
  return SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
}

inline bool Expired(const Deadline& deadline) {
  return deadline && SteadyClock::now() >= *deadline;
}

// Milliseconds for poll() (-1: no limit), rounded up so that a wait never ends before its
// deadline; 0 once it has passed.
inline int PollTimeoutMs(const Deadline& deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace vxa
