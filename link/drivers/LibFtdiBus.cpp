#include "link/drivers/LibFtdiBus.h"

#include <libusb.h>
#include <unistd.h>

#include <cstdio>

#include "link/drivers/LibFtdiLink.h"

namespace vxa {
namespace {

struct ListFree {
  void operator()(ftdi_device_list* list) const { ftdi_list_free(&list); }
};

// Room for a USB product string; libusb fetches at most 255 bytes of one.
constexpr int kStringRoom = 256;

std::string NodeOf(libusb_device* device) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                unsigned{libusb_get_bus_number(device)},
                unsigned{libusb_get_device_address(device)});
  return node;
}

}  // namespace

int LibFtdiBus::FindAll(int productId, std::vector<ftdi::FtdiUsbDevice>* found) {
  found->clear();
  LibFtdiLink::Context context(ftdi_new());
  if (!context) {
    error_ = "libftdi could not start (no USB support?)";
    return -1;
  }
  ftdi_device_list* raw = nullptr;
  const int count = ftdi_usb_find_all(context.get(), &raw, ftdi::kVendorId, productId);
  std::unique_ptr<ftdi_device_list, ListFree> list(raw);
  if (count < 0) {
    error_ = ftdi_get_error_string(context.get());
    return count;
  }
  for (ftdi_device_list* entry = list.get(); entry != nullptr; entry = entry->next) {
    ftdi::FtdiUsbDevice device;
    device.productId = productId;
    device.node = NodeOf(entry->dev);
    device.bus = libusb_get_bus_number(entry->dev);
    device.address = libusb_get_device_address(entry->dev);
    char description[kStringRoom] = {};
    char serialNumber[kStringRoom] = {};
    // Opens the device for a moment to read its strings: that needs permission on the node.
    device.stringsResult =
        ftdi_usb_get_strings2(context.get(), entry->dev, nullptr, 0, description,
                              sizeof description, serialNumber, sizeof serialNumber);
    if (device.stringsResult == 0) {
      device.description = description;
      device.serialNumber = serialNumber;
    }
    found->push_back(std::move(device));
  }
  return count;
}

LibFtdiLink::Context LibFtdiBus::NewOpeningContext() {
  LibFtdiLink::Context context(ftdi_new());
  if (!context) {
    error_ = "libftdi could not start (no USB support?)";
    return context;
  }
  // The kernel's ftdi_sio gets the bridge back (its ttyUSB reappears) when we let go of it.
  context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  return context;
}

int LibFtdiBus::Opened(int result, LibFtdiLink::Context context,
                       std::unique_ptr<ftdi::FtdiLink>* link) {
  if (result < 0) {
    error_ = ftdi_get_error_string(context.get());
    return result;
  }
  *link = std::make_unique<LibFtdiLink>(std::move(context));
  return 0;
}

int LibFtdiBus::OpenByDescription(int productId, const std::string& description,
                                  std::unique_ptr<ftdi::FtdiLink>* link) {
  link->reset();
  LibFtdiLink::Context context = NewOpeningContext();
  if (!context) return -1;
  const int result =
      ftdi_usb_open_desc(context.get(), ftdi::kVendorId, productId, description.c_str(), nullptr);
  return Opened(result, std::move(context), link);
}

int LibFtdiBus::OpenByBusAddress(int bus, int address, std::unique_ptr<ftdi::FtdiLink>* link) {
  link->reset();
  LibFtdiLink::Context context = NewOpeningContext();
  if (!context) return -1;
  const int result = ftdi_usb_open_bus_addr(context.get(), static_cast<uint8_t>(bus),
                                            static_cast<uint8_t>(address));
  return Opened(result, std::move(context), link);
}

bool LibFtdiBus::MayOpen(const std::string& node) const {
  return ::access(node.c_str(), R_OK | W_OK) == 0;
}

}  // namespace vxa
