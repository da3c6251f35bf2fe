#include "link/drivers/SerialPortErrors.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "text/Messages.h"

namespace vxa::serial {
namespace {

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

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

bool IsGone(int err) {
  return err == EIO || err == ENXIO || err == ENODEV;
}

Failure DescribeOpenFailure(int err, const std::string& path) {
  const char* where = path.c_str();
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    // A node with nothing behind it is a port that is not there (an unplugged bridge).
    case ENXIO:
    case ENODEV:
      return {kFtDeviceNotFound, FormatText(VXA_MSG(msg::kComPortMissing), where)};
    case EACCES:
    case EPERM:
      return {kFtDeviceNotOpened,
              FormatText(VXA_MSG(msg::kPortPermission), where, GroupOf(path).c_str())};
    case EBUSY:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kComPortBusy), where)};
    case ENOTTY:
    case EINVAL:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kNotSerialPort), where)};
    default:
      return {kFtDeviceNotOpened,
              FormatText(VXA_MSG(msg::kComPortFailed), where, ErrnoText(err).c_str())};
  }
}

Failure DescribeIoFailure(int err, const std::string& path, const char* operation) {
  if (IsGone(err)) {
    return {kFtIoError, std::string(operation) + " on " + path +
                            " failed: the bridge was unplugged or the other side closed"};
  }
  return {kFtIoError, std::string(operation) + " on " + path + " failed: " + ErrnoText(err)};
}

}  // namespace vxa::serial
