#include "app/InstrumentSelection.h"

#include <algorithm>
#include <charconv>

#include "link/UsbChannel.h"

namespace vxa {

FtStatus ListBridges(FtDriver& driver, std::vector<BridgeInfo>* bridges) {
  bridges->clear();
  uint32_t count = 0;
  const FtStatus status = driver.CountDevices(&count);
  if (status != kFtOk) return status;
  for (uint32_t index = 0; index < count; ++index) {
    BridgeInfo bridge;
    if (const FtStatus described = driver.DescribeDevice(index, &bridge); described != kFtOk) {
      bridges->clear();
      return described;
    }
    bridges->push_back(std::move(bridge));
  }
  return bridges->empty() ? kFtDeviceNotFound : kFtOk;
}

std::vector<BridgeInfo> InstrumentBridges(const std::vector<BridgeInfo>& bridges) {
  std::vector<BridgeInfo> instruments;
  std::copy_if(bridges.begin(), bridges.end(), std::back_inserter(instruments),
               [](const BridgeInfo& bridge) { return bridge.description == kDeviceDescription; });
  return instruments;
}

std::optional<BridgeInfo> ListedBridgeNamed(const std::vector<BridgeInfo>& bridges,
                                              const std::string& selector) {
  if (selector.empty()) return std::nullopt;
  for (const BridgeInfo& bridge : bridges) {
    if (selector == bridge.serialNumber) return bridge;
    if (bridge.location.empty()) continue;
    const size_t separator = bridge.location.find_last_of("/\\");
    const std::string lastPart =
        separator == std::string::npos ? bridge.location : bridge.location.substr(separator + 1);
    if (selector == bridge.location || selector == lastPart) return bridge;
  }
  // Digits only ("+1" or " 1" is no index); a number past the listing may be a serial number.
  uint32_t index = 0;
  const char* end = selector.data() + selector.size();
  const auto [stop, error] = std::from_chars(selector.data(), end, index);
  if (error != std::errc() || stop != end) return std::nullopt;
  const auto match = std::find_if(bridges.begin(), bridges.end(),
                                   [index](const BridgeInfo& bridge) { return bridge.index == index; });
  if (match == bridges.end()) return std::nullopt;
  return *match;
}

}  // namespace vxa
