#include "link/FtDriver.h"

#include <iterator>

#include "text/Messages.h"

namespace vxa {

uint32_t BaudRateOfDivisor(uint16_t divisor) {
  constexpr uint32_t kBase = 3'000'000;
  const uint32_t integer = divisor & 0x3FFF;
  // The two top bits select an eighth-step fraction: 0, 1/2, 1/4, 1/8.
  static constexpr uint32_t kEighths[4] = {0, 4, 2, 1};
  const uint32_t eighths = integer * 8 + kEighths[divisor >> 14];
  if (integer == 0) return kBase;
  if (integer == 1 && eighths == 8) return 2'000'000;
  return static_cast<uint32_t>((uint64_t{kBase} * 8 + eighths / 2) / eighths);
}

const char* BridgeCauseCode(BridgeCause kind) {
  switch (kind) {
    case BridgeCause::kPermission: return "permission";
    case BridgeCause::kBusy: return "busy";
    case BridgeCause::kNoSuchPort: return "no_such_port";
    case BridgeCause::kDisconnected: return "disconnected";
    case BridgeCause::kNotSupported: return "not_supported";
    case BridgeCause::kOther: return "other";
    case BridgeCause::kNone: break;
  }
  return nullptr;
}

const char* StatusName(FtStatus status) {
  static constexpr const char* kNames[] = {
      "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED", "FT_IO_ERROR",
      "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER", "FT_INVALID_BAUD_RATE",
      "FT_DEVICE_NOT_OPENED_FOR_ERASE", "FT_DEVICE_NOT_OPENED_FOR_WRITE",
      "FT_FAILED_TO_WRITE_DEVICE", "FT_EEPROM_READ_FAILED", "FT_EEPROM_WRITE_FAILED",
      "FT_EEPROM_ERASE_FAILED", "FT_EEPROM_NOT_PRESENT", "FT_EEPROM_NOT_PROGRAMMED",
      "FT_INVALID_ARGS", "FT_NOT_SUPPORTED", "FT_OTHER_ERROR", "FT_DEVICE_LIST_NOT_READY"};
  return status < std::size(kNames) ? kNames[status] : nullptr;
}

BridgeFault FaultOfStatus(FtStatus status, bool opening) {
  switch (status) {
    case kFtOk:
    case kFtAborted:
      return {};
    case kFtDeviceNotFound:
    case kFtIoError:
      if (!opening) return {BridgeCause::kDisconnected, VXA_MSG(msg::kCauseDisconnected)};
      break;
    case kFtDeviceNotOpened:
      if (!opening) return {BridgeCause::kDisconnected, VXA_MSG(msg::kCauseDisconnected)};
      return {BridgeCause::kBusy, VXA_MSG(msg::kCauseBridgeBusy)};
    case kFtInvalidBaudRate:
      return {BridgeCause::kNotSupported, VXA_MSG(msg::kCauseBridgeSpeed)};
    default:
      break;
  }
  const char* name = StatusName(status);
  return {BridgeCause::kOther, FormatText(VXA_MSG(msg::kCauseDriverStatus), name ? name : "FT_?",
                                          static_cast<unsigned>(status))};
}

BridgeFault FtDriver::LastFault() const {
  std::string text = LastError();
  const BridgeCause kind = text.empty() ? BridgeCause::kNone : BridgeCause::kOther;
  return {kind, std::move(text)};
}

FtStatus FtDriver::DescribeDevice(uint32_t index, BridgeInfo* bridge) {
  if (bridge == nullptr) return kFtInvalidParameter;
  *bridge = BridgeInfo{.index = index};
  return DeviceDescription(index, &bridge->description);
}

FtStatus FtDriver::OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) {
  return OpenByDescription(bridge.description, device);
}

}  // namespace vxa
