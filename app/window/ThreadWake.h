#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vxa {

// Lets any thread make the window's thread look at something without handing it an object: the
// raising side writes to an eventfd, which the window's event loop watches. Nothing is allocated
// on one thread and freed on the other, and a wake-up never blocks the thread that raises it.
class ThreadWake final {
 public:
  // `onWake` runs on the thread that makes the object, from its event loop, once per batch of
  // wake-ups. Throws std::system_error when the eventfd cannot be made.
  explicit ThreadWake(std::function<void()> onWake);
  ~ThreadWake();
  ThreadWake(const ThreadWake&) = delete;
  ThreadWake& operator=(const ThreadWake&) = delete;

  // Any thread.
  void Raise() noexcept;

 private:
  void Drain() noexcept;

  int fd_ = -1;
  std::function<void()> onWake_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vxa
