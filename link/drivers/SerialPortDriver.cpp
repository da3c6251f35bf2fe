#include "link/drivers/SerialPortDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "link/drivers/SerialLine.h"
#include "text/Messages.h"

namespace vxa {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFtdiVendorId = "0403";

std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
    value.pop_back();
  }
  return value;
}

bool SameHex(std::string a, std::string b) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower(std::move(a)) == lower(std::move(b));
}

// ttyUSB2 before ttyUSB10: the order in which the bridges were plugged in.
unsigned long PortNumber(const std::string& ttyName) {
  return std::strtoul(ttyName.c_str() + std::string_view("ttyUSB").size(), nullptr, 10);
}

// "ttyUSB0" when `path` is (or links to) a port of the kernel's usb-serial layer.
std::string UsbSerialNameOf(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) return {};
  const std::string name = real.filename().string();
  return name.starts_with("ttyUSB") ? name : std::string{};
}

}  // namespace

SerialPortDriver::SerialPortDriver(Options options)
    : ListingDriver("port"), options_(std::move(options)) {}

std::vector<SerialPort> SerialPortDriver::ScanSysfs() const {
  std::vector<SerialPort> ports;
  std::error_code ec;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(fs::path(options_.sysRoot) / "class" / "tty", ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("ttyUSB")) continue;
    // device -> the usb-serial port; its parent is the USB interface, and that one's parent the
    // USB device, which carries the vendor id and the product string.
    std::error_code linkError;
    const fs::path port = fs::canonical(entry.path() / "device", linkError);
    if (linkError) continue;
    const fs::path usbDevice = port.parent_path().parent_path();
    if (!SameHex(ReadAttribute(usbDevice / "idVendor"), kFtdiVendorId)) continue;
    ports.push_back({name, options_.devRoot + "/" + name, ReadAttribute(usbDevice / "product"),
                     ReadAttribute(usbDevice / "serial")});
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPort& a, const SerialPort& b) {
    return PortNumber(a.ttyName) < PortNumber(b.ttyName);
  });
  return ports;
}

FtStatus SerialPortDriver::List(std::vector<SerialPort>* ports) {
  ports->clear();
  if (!options_.port.empty()) {
    std::error_code ec;
    if (!fs::exists(options_.port, ec)) {
      error_.Set(BridgeCause::kNoSuchPort,
                 FormatText(VXA_MSG(msg::kComPortMissing), options_.port.c_str()));
      return kFtDeviceNotFound;
    }
    ports->push_back({UsbSerialNameOf(options_.port), options_.port, kExplicitPortDescription, {}});
    return kFtOk;
  }
  *ports = ScanSysfs();
  if (ports->empty()) {
    error_.Set(BridgeCause::kNoSuchPort, FormatText(VXA_MSG(msg::kNoFtdiDeviceFound), "/dev/ttyUSB*"));
    return kFtDeviceNotFound;
  }
  return kFtOk;
}

BridgeInfo SerialPortDriver::Describe(const SerialPort& port) const {
  return {.description = port.description, .location = port.path, .serialNumber = port.serialNumber};
}

FtStatus SerialPortDriver::OpenListed(const SerialPort& port, std::unique_ptr<FtDevice>* device) {
  serial::Failure failure;
  std::unique_ptr<SerialLine> opened =
      SerialLine::Open(PortLocation{port.path, port.ttyName, options_.sysRoot}, &failure);
  if (!opened) {
    error_.Set(failure.cause, std::move(failure.text));
    return failure.status;
  }
  *device = std::move(opened);
  return kFtOk;
}

}  // namespace vxa
