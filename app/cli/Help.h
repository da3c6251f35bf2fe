#pragma once

#include <string>

namespace vxa::cli {

// The whole --help of the terminal program, in the catalogue's language, built from the tables
// of its commands, options and drivers.
std::string CliHelp(const std::string& program);

}  // namespace vxa::cli
