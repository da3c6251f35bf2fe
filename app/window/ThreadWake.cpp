#include "app/window/ThreadWake.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vxa {

ThreadWake::ThreadWake(std::function<void()> onWake) : onWake_(std::move(onWake)) {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    Drain();
    onWake_();
  });
}

ThreadWake::~ThreadWake() {
  notifier_.reset();
  ::close(fd_);
}

void ThreadWake::Raise() noexcept {
  const uint64_t one = 1;
  if (::write(fd_, &one, sizeof one) < 0) {
    // Only a full counter refuses, and a full counter is already a wake-up waiting to be seen.
  }
}

void ThreadWake::Drain() noexcept {
  uint64_t count = 0;
  if (::read(fd_, &count, sizeof count) < 0) {
    // Nothing was pending: another activation drained it first.
  }
}

}  // namespace vxa
