// The COM ports of FTDI bridges, from Windows' device list (SetupAPI): the ports class, devices
// present now, those whose hardware id names vendor 0403; the description is the product string
// the bridge reports on the bus (what the vendor's library lists), the port name comes from the
// device's registry key.
#include <windows.h>
// windows.h first: the device headers need its types.
#include <devpkey.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>

#include "base/WindowsText.h"
#include "link/drivers/ComPortDriver.h"

namespace vxa {
namespace {

// The class of COM and LPT ports: {4d36e978-e325-11ce-bfc1-08002be10318}.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// DEVPKEY_Device_BusReportedDeviceDesc, spelled out so that no GUID needs instantiating here.
constexpr DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// The device list of the ports class, destroyed when it goes.
class DeviceList {
 public:
  DeviceList() : set_(::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT)) {}
  ~DeviceList() {
    if (set_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  HDEVINFO Get() const { return set_; }

 private:
  HDEVINFO set_;
};

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// REG_MULTI_SZ of hardware ids ("FTDIBUS\COMPORT&VID_0403&PID_6001", "USB\VID_0403&PID_6001").
bool IsFtdi(HDEVINFO set, SP_DEVINFO_DATA* device) {
  wchar_t ids[1024] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids - 4,
                                           nullptr)) {
    return false;
  }
  for (const wchar_t* id = ids; *id != L'\0'; id += std::wcslen(id) + 1) {
    if (Upper(id).find(L"VID_0403") != std::wstring::npos) return true;
  }
  return false;
}

std::string BusDescription(HDEVINFO set, SP_DEVINFO_DATA* device) {
  wchar_t text[256] = {};
  DEVPROPTYPE type = 0;
  if (!::SetupDiGetDevicePropertyW(set, device, &kBusReportedDescription, &type,
                                   reinterpret_cast<BYTE*>(text), sizeof text - 2, nullptr, 0) ||
      type != DEVPROP_TYPE_STRING) {
    return {};
  }
  return win::Narrow(text);
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA* device) {
  HKEY key = ::SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - 2;
  DWORD type = 0;
  const LONG result =
      ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return {};
  return win::Narrow(name);
}

unsigned long PortNumber(const std::string& name) {
  return std::strtoul(name.c_str() + (name.starts_with("COM") ? 3 : 0), nullptr, 10);
}

}  // namespace

std::vector<ComPort> ListFtdiComPorts() {
  std::vector<ComPort> ports;
  const DeviceList list;
  if (list.Get() == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(list.Get(), index, &device); ++index) {
    if (!IsFtdi(list.Get(), &device)) continue;
    std::string name = PortName(list.Get(), &device);
    if (!name.starts_with("COM")) continue;
    ports.push_back({std::move(name), BusDescription(list.Get(), &device)});
  }
  std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
    return PortNumber(a.name) < PortNumber(b.name);
  });
  return ports;
}

}  // namespace vxa
