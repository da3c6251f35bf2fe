#pragma once

#include <mutex>
#include <string>

namespace vxa {

// A D2XX status number says that something failed, not why. Backends also keep the cause in words
// the user can act on ("permission denied on /dev/ttyUSB0: add the user to group dialout"), and
// the application reaches it through this interface without knowing which backend it runs on.
class DriverErrorReport {
 public:
  virtual ~DriverErrorReport() = default;
  // The cause of the latest failure; empty while nothing has failed.
  virtual std::string LastError() const = 0;
};

// The text behind DriverErrorReport. Written only on failure paths, so the lock costs nothing
// per packet; it is there because a front end may ask from another thread than the one that
// made the call.
class ErrorNote final {
 public:
  void Set(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace vxa
