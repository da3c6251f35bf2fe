#pragma once

#include <string>

namespace vxa {

// What --version says of every program that carries the boot image, in the catalogue's language:
// the program's name and version, the size of the embedded boot image with whether it is the
// placeholder of a build that was given none, its SHA-256 (hashed where it lies), the licence and
// where to report a fault. Ends in a line end.
std::string VersionText(const std::string& program);

}  // namespace vxa
