#include "link/drivers/BridgeErrors.h"

namespace vxa {
namespace {

FtStatus Refuse(ErrorNote& error, const char* why) {
  error.Set(why);
  return kFtInvalidParameter;
}

}  // namespace

FtStatus CheckLatencyTimer(uint8_t milliseconds, ErrorNote& error) {
  if (milliseconds != 0) return kFtOk;
  return Refuse(error, "latency timer of 0 ms requested; the bridge takes 1 to 255");
}

FtStatus CheckLineFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity, ErrorNote& error) {
  if ((wordLength != kFtBits7 && wordLength != kFtBits8) ||
      (stopBits != kFtStopBits1 && stopBits != kFtStopBits2) || parity > kFtParitySpace) {
    return Refuse(error, "unsupported line format requested");
  }
  return kFtOk;
}

FtStatus CheckPurgeMask(uint32_t mask, ErrorNote& error) {
  if ((mask & ~(kFtPurgeRx | kFtPurgeTx)) != 0) return Refuse(error, "unknown purge mask");
  return kFtOk;
}

FtStatus RefuseFlowControl(ErrorNote& error) {
  return Refuse(error, "unknown flow control mode requested");
}

}  // namespace vxa
