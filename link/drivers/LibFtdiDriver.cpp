#include "link/drivers/LibFtdiDriver.h"

#include "link/drivers/LibFtdiBus.h"
#include "link/drivers/LibFtdiDevice.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// libftdi's open codes; -3 serves both "no such device" and a refused configuration, and only
// its text tells them apart.
constexpr int kOpenNotFoundOrUnconfigured = -3;
constexpr int kOpenUsbOpenFailed = -4;
constexpr int kOpenClaimFailed = -5;
constexpr int kOpenNoPermissionOrNoDescription = -8;

bool IsNotFound(int result, const std::string& text) {
  return result == kOpenNotFoundOrUnconfigured && text.find("not found") != std::string::npos;
}

}  // namespace

LibFtdiDriver::LibFtdiDriver() : LibFtdiDriver(std::make_unique<LibFtdiBus>()) {}

LibFtdiDriver::LibFtdiDriver(std::unique_ptr<ftdi::FtdiBus> bus)
    : ListingDriver("bridge"), bus_(std::move(bus)) {}

LibFtdiDriver::~LibFtdiDriver() = default;

FtStatus LibFtdiDriver::List(std::vector<ftdi::FtdiUsbDevice>* devices) {
  devices->clear();
  for (const int productId : ftdi::kProductIds) {
    std::vector<ftdi::FtdiUsbDevice> found;
    if (const int result = bus_->FindAll(productId, &found); result < 0) {
      // The search has said already that listing failed; libftdi's own words say why.
      error_.Set("libftdi: " + bus_->ErrorString());
      return kFtOtherError;
    }
    devices->insert(devices->end(), found.begin(), found.end());
  }
  if (devices->empty()) {
    error_.Set(BridgeCause::kNoSuchPort, FormatText(VXA_MSG(msg::kNoFtdiDeviceFound), "USB VID 0403"));
    return kFtDeviceNotFound;
  }
  // Every bridge counts, even one whose description could not be read; opening it will fail
  // and say why, but the note is useful already.
  for (const ftdi::FtdiUsbDevice& device : *devices) {
    if (device.stringsResult != 0 && !bus_->MayOpen(device.node)) {
      error_.Set(BridgeCause::kPermission,
                 FormatText(VXA_MSG(msg::kUsbNodePermission), device.node.c_str()));
    }
  }
  return kFtOk;
}

std::string LibFtdiDriver::NodesWithoutPermission() {
  std::string nodes;
  std::vector<ftdi::FtdiUsbDevice> devices;
  if (List(&devices) != kFtOk) return nodes;
  for (const ftdi::FtdiUsbDevice& device : devices) {
    if (!bus_->MayOpen(device.node)) nodes += (nodes.empty() ? "" : ", ") + device.node;
  }
  return nodes;
}

FtStatus LibFtdiDriver::Open(const std::string& description, std::unique_ptr<FtDevice>* device) {
  // A failure on one product id does not end the search: the instrument may sit on another.
  int failure = 0;
  std::string failureText;
  for (const int productId : ftdi::kProductIds) {
    std::unique_ptr<ftdi::FtdiLink> link;
    const int result = bus_->OpenByDescription(productId, description, &link);
    if (result == 0 && link) {
      *device = std::make_unique<LibFtdiDevice>(std::move(link), description);
      return kFtOk;
    }
    const std::string text = bus_->ErrorString();
    if (IsNotFound(result, text) || failure != 0) continue;
    failure = result;
    failureText = text;
  }

  if (failure == 0) {
    std::vector<ftdi::FtdiUsbDevice> devices;
    if (const FtStatus listed = List(&devices); listed != kFtOk) return listed;
    return NoneDescribedAs(description, devices);
  }
  return OpenFailed(failure, failureText);
}

FtStatus LibFtdiDriver::OpenListed(const ftdi::FtdiUsbDevice& listed,
                                   std::unique_ptr<FtDevice>* device) {
  std::unique_ptr<ftdi::FtdiLink> link;
  const int result = bus_->OpenByBusAddress(listed.bus, listed.address, &link);
  if (result == 0 && link) {
    *device = std::make_unique<LibFtdiDevice>(std::move(link), listed.description);
    return kFtOk;
  }
  return OpenFailed(result, bus_->ErrorString());
}

FtStatus LibFtdiDriver::OpenFailed(int failure, const std::string& failureText) {
  // FT_Open failed is said already; libftdi's words and code are the detail.
  const std::string cause = "libftdi: " + failureText + " (" + std::to_string(failure) + ")";
  const std::string nodes =
      failure == kOpenUsbOpenFailed || failure == kOpenNoPermissionOrNoDescription
          ? NodesWithoutPermission()
          : std::string();
  if (!nodes.empty()) {
    error_.Set(BridgeCause::kPermission, FormatText(VXA_MSG(msg::kUsbNodePermission), nodes.c_str()));
  } else if (failure == kOpenClaimFailed || failure == kOpenNotFoundOrUnconfigured) {
    error_.Set(BridgeCause::kBusy, FormatText(VXA_MSG(msg::kBridgeHeld), cause.c_str()));
  } else {
    error_.Set(cause);
  }
  return kFtDeviceNotOpened;
}

}  // namespace vxa
