#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace vxa {

// The instrument's files; a request carries the name. The order is the instrument's numbering.
enum FileKind : uint32_t {
  kFileKernel = 0,
  kFileDevInfo = 1,
  kFileDevCaliber = 2,
  kFileSensor0 = 3,
  kFileSensor1 = 4,
  kFileSwap = 5,
};

inline constexpr const char* kFileKindNames[] = {"kernel",  "dev_info", "dev_caliber",
                                                 "sensor0", "sensor1",  "swap",
                                                 nullptr};
inline constexpr uint32_t kFileKindCount = static_cast<uint32_t>(std::size(kFileKindNames)) - 1;

inline std::optional<uint32_t> FileKindByName(std::string_view name) {
  for (uint32_t kind = 0; kind < kFileKindCount; ++kind) {
    if (name == kFileKindNames[kind]) return kind;
  }
  return std::nullopt;
}

}  // namespace vxa
