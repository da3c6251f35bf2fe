#include <windows.h>

#include <string>

#include "base/HostName.h"
#include "base/WindowsText.h"

namespace vxa {

std::string HostName() {
  DWORD size = 0;
  GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0) return {};
  std::wstring name(size, L'\0');
  if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return {};
  name.resize(size);
  return win::Narrow(name);
}

}  // namespace vxa
