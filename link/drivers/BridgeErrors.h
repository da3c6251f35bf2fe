#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "link/FtDriver.h"

namespace vxa {

// The words behind a backend's LastError. Written only on failure paths, so the lock costs
// nothing per packet; it is there because a front end may ask from another thread than the one
// that made the call.
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

// Arguments both backends refuse before they touch the bridge. Each check gives kFtOk, or
// kFtInvalidParameter with the reason noted.
FtStatus CheckLatencyTimer(uint8_t milliseconds, ErrorNote& error);
FtStatus CheckLineFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity, ErrorNote& error);
FtStatus CheckPurgeMask(uint32_t mask, ErrorNote& error);
// A flow control mode the vendor's library does not know.
FtStatus RefuseFlowControl(ErrorNote& error);

}  // namespace vxa
