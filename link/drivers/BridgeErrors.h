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
  // Words of no known kind: a check of the program's own arguments, a listing's findings.
  void Set(std::string text) { Set(BridgeCause::kOther, std::move(text)); }
  void Set(BridgeCause kind, std::string text) {
    std::lock_guard lock(mutex_);
    fault_ = {kind, std::move(text)};
  }
  void Set(BridgeFault fault) { Set(fault.kind, std::move(fault.text)); }
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return fault_.text;
  }
  BridgeFault Fault() const {
    std::lock_guard lock(mutex_);
    return fault_;
  }

 private:
  mutable std::mutex mutex_;
  BridgeFault fault_;
};

// Arguments both backends refuse before they touch the bridge. Each check gives kFtOk, or
// kFtInvalidParameter with the reason noted.
FtStatus CheckLatencyTimer(uint8_t milliseconds, ErrorNote& error);
FtStatus CheckLineFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity, ErrorNote& error);
FtStatus CheckPurgeMask(uint32_t mask, ErrorNote& error);
// A flow control mode the vendor's library does not know.
FtStatus RefuseFlowControl(ErrorNote& error);

}  // namespace vxa
