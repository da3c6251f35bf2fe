#pragma once

// What the program and the instrument agree on above the framing of Packet.h: the two records
// and where their fields lie, the text commands, the files and how transfer blocks are numbered.
// The protocol reads these records and the simulated instrument writes them, both from here.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

#include "link/Packet.h"

namespace vxa {

// The device information record, the answer to kCmdDeviceInfo. Numbers are little-endian; the
// rest of the record belongs to the instrument.
inline constexpr size_t kDeviceInfoSize = 8690;
inline constexpr size_t kInfoModelName = 0;  // Windows-1251, NUL-padded
inline constexpr size_t kModelNameSize = 40;
inline constexpr size_t kInfoSerial = 56;          // int32
inline constexpr size_t kInfoDeviceVersion = 60;   // uint16: major << 8 | minor
inline constexpr size_t kInfoProgramVersion = 62;  // uint16: major << 8 | minor

// The GINF record, the answer to the text command of that name.
inline constexpr size_t kGinfSize = 68;
inline constexpr size_t kGinfSerial = 16;       // int32
inline constexpr size_t kGinfDeviceMajor = 32;  // int32
inline constexpr size_t kGinfDeviceMinor = 36;  // int32
inline constexpr size_t kGinfProgram = 40;      // three int32: major, minor, build

// Text commands (kCmdText): four letters, then the command's arguments.
inline constexpr size_t kTextCommandSize = 4;
inline constexpr char kTextGetInfo[] = "GINF";
inline constexpr char kTextSetClock[] = "SDTI";
// SDTI's argument: year % 100, month, day, hour, minute, second, one uint16 each.
inline constexpr size_t kClockFields = 6;
inline constexpr size_t kClockRecordSize = 2 * kClockFields;

// The instrument's files; a request carries the name. The order is the instrument's numbering.
enum FileKind : uint32_t {
  kFileKernel = 0,  // a write request for it carries no data: it installs "swap"
  kFileDevInfo = 1,
  kFileDevCaliber = 2,
  kFileSensor0 = 3,
  kFileSensor1 = 4,
  kFileSwap = 5,
};

inline constexpr const char* kFileKindNames[] = {"kernel",  "dev_info", "dev_caliber", "sensor0",
                                                 "sensor1", "swap",     nullptr};
inline constexpr uint32_t kFileKindCount = static_cast<uint32_t>(std::size(kFileKindNames)) - 1;

inline std::optional<uint32_t> FileKindByName(std::string_view name) {
  for (uint32_t kind = 0; kind < kFileKindCount; ++kind) {
    if (name == kFileKindNames[kind]) return kind;
  }
  return std::nullopt;
}

// Every write block, read block and acknowledgement starts with the block's number
// (kBlockNumberSize bytes). Both transfers count 1, 2, ..., 0xFFFFFFFF, 1, ...: 0 is only the
// acknowledgement of an accepted write request.
constexpr uint32_t NextBlockNumber(uint32_t block) {
  return block == 0xFFFFFFFFu ? 1 : block + 1;
}

}  // namespace vxa
