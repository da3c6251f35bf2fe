#include "link/drivers/LibFtdiDriver.h"

#include "link/drivers/LibFtdiBus.h"
#include "link/drivers/LibFtdiDevice.h"

namespace vxa {
namespace {

constexpr const char* kUdevAdvice =
    "install a udev rule for vendor 0403 and the FTDI product ids (MODE=\"0660\" with "
    "GROUP=\"plugdev\", or TAG+=\"uaccess\"), then plug the instrument in again";

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
      error_.Set("listing the USB devices failed (" + bus_->ErrorString() + ")");
      return kFtOtherError;
    }
    devices->insert(devices->end(), found.begin(), found.end());
  }
  if (devices->empty()) {
    error_.Set("no FTDI bridge is attached to USB");
    return kFtDeviceNotFound;
  }
  // Every bridge counts, even one whose description could not be read; opening it will fail
  // and say why, but the note is useful already.
  for (const ftdi::FtdiUsbDevice& device : *devices) {
    if (device.stringsResult != 0 && !bus_->MayOpen(device.node)) {
      error_.Set("the description of the FTDI bridge at " + device.node +
                 " cannot be read: no permission on that node; " + kUdevAdvice);
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
    error_.Set("no FTDI bridge on USB is described as \"" + description + "\"");
    return kFtDeviceNotFound;
  }
  const std::string cause = " (" + failureText + ", code " + std::to_string(failure) + ")";
  if (failure == kOpenUsbOpenFailed || failure == kOpenNoPermissionOrNoDescription) {
    const std::string nodes = NodesWithoutPermission();
    if (!nodes.empty()) {
      error_.Set("no permission to open the FTDI bridge: the user may not use " + nodes + "; " +
                 kUdevAdvice);
    } else {
      error_.Set("cannot open the FTDI bridge" + cause);
    }
  } else if (failure == kOpenClaimFailed || failure == kOpenNotFoundOrUnconfigured) {
    error_.Set("the FTDI bridge is held by the kernel's ftdi_sio driver or another program" +
               cause + ": close what uses its /dev/ttyUSB port, or choose the serial-port backend");
  } else {
    error_.Set("cannot open the FTDI bridge" + cause);
  }
  return kFtDeviceNotOpened;
}

}  // namespace vxa
