#pragma once

#include <string>

#include "link/FtDriver.h"

// What an errno from a serial port means for the program: the D2XX status the link expects and a
// sentence that names the cause and what to do about it.
namespace vxa::serial {

struct Failure {
  FtStatus status = kFtOk;
  std::string text;
};

// Opening `path` failed with `err` (from open() or from the first calls that make it a port).
Failure DescribeOpenFailure(int err, const std::string& path);
// `operation` ("read", "write", ...) failed with `err` on the open port `path`.
Failure DescribeIoFailure(int err, const std::string& path, const char* operation);
// The device behind the descriptor is gone: unplugged bridge, or the far side of a
// pseudo-terminal closed. Nothing done on this descriptor will work again.
bool IsGone(int err);

}  // namespace vxa::serial
