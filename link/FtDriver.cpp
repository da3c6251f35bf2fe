#include "link/FtDriver.h"

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

FtStatus FtDriver::DescribeDevice(uint32_t index, BridgeInfo* bridge) {
  if (bridge == nullptr) return kFtInvalidParameter;
  *bridge = BridgeInfo{.index = index};
  return DeviceDescription(index, &bridge->description);
}

FtStatus FtDriver::OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) {
  return OpenByDescription(bridge.description, device);
}

}  // namespace vxa
