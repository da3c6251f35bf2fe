#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace vxa {

// A civil date and time as the computer's local clock shows it.
struct LocalDateTime {
  int year = 2026;
  int month = 1;  // 1..12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Every pause and every read timeout of the link goes through a clock, so that tests and
// benchmarks can run the whole protocol in virtual time.
class Clock {
 public:
  using Duration = std::chrono::microseconds;
  using TimePoint = std::chrono::time_point<Clock, Duration>;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  virtual void Sleep(Duration duration) = 0;
  void SleepMs(uint32_t ms) { Sleep(std::chrono::milliseconds(ms)); }
  void SleepUntil(TimePoint when) {
    const TimePoint now = Now();
    if (when > now) Sleep(when - now);
  }
  virtual LocalDateTime LocalTime() const = 0;
  // True when time passes only by Sleep: a waiting front end must not wait in real time for it.
  virtual bool IsVirtual() const = 0;
};

class RealClock final : public Clock {
 public:
  TimePoint Now() const override;
  void Sleep(Duration duration) override;
  LocalDateTime LocalTime() const override;
  bool IsVirtual() const override { return false; }
};

// Time moves only when somebody sleeps. Both threads may sleep on it: the one protocol thread
// that works at a time moves it on, and a waiting thread simply sees it jump.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(TimePoint start = TimePoint{}) : now_(start.time_since_epoch().count()) {}
  TimePoint Now() const override { return TimePoint{Duration{now_.load()}}; }
  void Sleep(Duration duration) override {
    if (duration.count() > 0) now_.fetch_add(duration.count());
  }
  bool IsVirtual() const override { return true; }

  // The local time shown at the moment of this call; it advances with the virtual time.
  void SetLocalTime(const LocalDateTime& when);
  LocalDateTime LocalTime() const override;

 private:
  std::atomic<int64_t> now_;
  std::atomic<int64_t> localBaseSeconds_{1767225600};  // 2026-01-01 00:00:00
  std::atomic<int64_t> localBaseAt_{0};
};

// The clock of the process when no other is chosen: the real one.
Clock& SystemClock();

}  // namespace vxa
