#pragma once

#include <algorithm>
#include <vector>

#include "link/Clock.h"

namespace vxa::sim {

// When a simulated bridge is plugged into the bus and when it is pulled out, as moments of the
// bus's time. A bridge with no schedule is there from the start; one with a schedule is there
// only from its first plug on (or, with pulls alone, from the start until the first of them).
class PlugSchedule {
 public:
  struct Event {
    Clock::TimePoint at;
    bool plugged;  // false: pulled
  };

  PlugSchedule() = default;
  explicit PlugSchedule(std::vector<Event> events) : events_(std::move(events)) {
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    for (const Event& event : events_) attachedAtStart_ = attachedAtStart_ && !event.plugged;
  }

  bool Empty() const { return events_.empty(); }

  bool AttachedAt(Clock::TimePoint at) const {
    bool attached = attachedAtStart_;
    for (const Event& event : events_) {
      if (event.at > at) break;
      attached = event.plugged;
    }
    return attached;
  }

  // Whether it was pulled at some moment after `from` and up to `to`.
  bool PulledBetween(Clock::TimePoint from, Clock::TimePoint to) const {
    for (const Event& event : events_) {
      if (!event.plugged && event.at > from && event.at <= to) return true;
    }
    return false;
  }

 private:
  std::vector<Event> events_;  // in the order of their moments
  bool attachedAtStart_ = true;
};

}  // namespace vxa::sim
