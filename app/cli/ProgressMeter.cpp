#include "app/cli/ProgressMeter.h"

#include <cmath>

namespace vxa::cli {

void ProgressMeter::Add(Clock::TimePoint when, int64_t position) {
  if (!samples_.empty()) {
    if (position < samples_.back().position || when < samples_.back().when) {
      samples_.clear();
    } else if (position == samples_.back().position) {
      return;
    }
  }
  samples_.push_back({when, position});
  // Keep one sample at or before the start of the window, so the span covers the whole window.
  while (samples_.size() > 2 && samples_[1].when <= when - kWindow) samples_.pop_front();
}

std::optional<double> ProgressMeter::BytesPerSecond(Clock::TimePoint now) const {
  if (samples_.size() < 2) return std::nullopt;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  Clock::Duration span = last.when - first.when;
  if (now - last.when >= kStall) span = now - first.when;
  if (span < kMinimumSpan) return std::nullopt;
  const double seconds = std::chrono::duration<double>(span).count();
  return static_cast<double>(last.position - first.position) / seconds;
}

std::optional<std::chrono::seconds> ProgressMeter::TimeLeft(int64_t total,
                                                            Clock::TimePoint now) const {
  const std::optional<double> rate = BytesPerSecond(now);
  if (!rate) return std::nullopt;
  const int64_t remaining = total - samples_.back().position;
  if (remaining <= 0) return std::chrono::seconds(0);
  if (*rate <= 0.0) return std::nullopt;
  return std::chrono::seconds(
      static_cast<int64_t>(std::ceil(static_cast<double>(remaining) / *rate)));
}

}  // namespace vxa::cli
