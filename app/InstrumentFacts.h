#pragma once

#include <string>

namespace vxa {

// The instrument found, as values: the station and the machine-readable output read these rather
// than cut the labels off the lines a window shows.
struct InstrumentFacts {
  std::string model;
  std::string serialNumber;
  std::string deviceVersion;
  std::string programVersion;
};

}  // namespace vxa
