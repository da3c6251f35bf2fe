// What an errno from a serial port means for the program.
#include "link/drivers/SerialPortIo.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "text/Messages.h"

namespace vxa::serial {
namespace {

// The group that may open the node: Debian gives ttyUSB nodes to "dialout", but a udev rule of
// the site may have chosen another, and the node itself says which.
std::string GroupOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_gid == 0) return "dialout";
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return "dialout";
  }
  return found->gr_name;
}

}  // namespace

bool IsGone(unsigned long code) {
  return code == EIO || code == ENXIO || code == ENODEV;
}

std::string SystemErrorText(unsigned long code) {
  return std::generic_category().message(static_cast<int>(code));
}

Failure DescribeOpenFailure(unsigned long code, const std::string& path) {
  const char* where = path.c_str();
  switch (code) {
    case ENOENT:
    case ENOTDIR:
    // A node with nothing behind it is a port that is not there (an unplugged bridge).
    case ENXIO:
    case ENODEV:
      return {kFtDeviceNotFound, FormatText(VXA_MSG(msg::kComPortMissing), where),
              BridgeCause::kNoSuchPort};
    case EACCES:
    case EPERM:
      return {kFtDeviceNotOpened,
              FormatText(VXA_MSG(msg::kPortPermission), where, GroupOf(path).c_str()),
              BridgeCause::kPermission};
    case EBUSY:
    case EWOULDBLOCK:  // another program holds the port's lock
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kComPortBusy), where),
              BridgeCause::kBusy};
    case ENOTTY:
    case EINVAL:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kNotSerialPort), where),
              BridgeCause::kNotSupported};
    default:
      return {kFtDeviceNotOpened,
              FormatText(VXA_MSG(msg::kComPortFailed), where, SystemErrorText(code).c_str())};
  }
}

}  // namespace vxa::serial
