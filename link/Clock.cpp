#include "link/Clock.h"

#include <ctime>
#include <thread>

#include "base/CivilTime.h"

namespace vxa {
namespace {

LocalDateTime FromTm(const std::tm& tm) {
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

}  // namespace

Clock::TimePoint RealClock::Now() const {
  return TimePoint{std::chrono::duration_cast<Duration>(
      std::chrono::steady_clock::now().time_since_epoch())};
}

void RealClock::Sleep(Duration duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

LocalDateTime RealClock::LocalTime() const {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  LocalCalendar(now, &tm);
  return FromTm(tm);
}

// The virtual local time is kept as seconds of a calendar without time zones (UTC arithmetic),
// which is all a test of the clock command needs.
void VirtualClock::SetLocalTime(const LocalDateTime& when) {
  std::tm tm{};
  tm.tm_year = when.year - 1900;
  tm.tm_mon = when.month - 1;
  tm.tm_mday = when.day;
  tm.tm_hour = when.hour;
  tm.tm_min = when.minute;
  tm.tm_sec = when.second;
  localBaseSeconds_ = static_cast<int64_t>(SecondsOfUtcCalendar(&tm));
  localBaseAt_ = now_.load();
}

LocalDateTime VirtualClock::LocalTime() const {
  const int64_t elapsedSeconds = (now_.load() - localBaseAt_.load()) / 1'000'000;
  const auto seconds = static_cast<std::time_t>(localBaseSeconds_.load() + elapsedSeconds);
  std::tm tm{};
  UtcCalendar(seconds, &tm);
  return FromTm(tm);
}

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace vxa
