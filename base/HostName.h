#pragma once

#include <string>

namespace vxa {

// This computer's name as the network knows it (gethostname, GetComputerNameExW); empty when the
// system does not tell it.
std::string HostName();

}  // namespace vxa
