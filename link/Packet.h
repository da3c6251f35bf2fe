#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vxa {

// Every command and answer is one frame: a 12-byte header, the payload, and the payload's CRC
// (only when there is a payload). All numbers on the wire are little-endian.
inline constexpr uint16_t kStartMark = 0x5869;
inline constexpr uint16_t kEndMark = 0x9685;
inline constexpr size_t kHeaderSize = 12;
inline constexpr size_t kCrcSize = 4;
inline constexpr size_t kPacketBufferSize = 32768;
inline constexpr size_t kMaxCommandPayload = kPacketBufferSize - kHeaderSize - kCrcSize;  // 32752
inline constexpr size_t kMaxAnswerBody = kPacketBufferSize;

// Field offsets within the header.
inline constexpr size_t kOffStartMark = 0;
inline constexpr size_t kOffCode = 2;
inline constexpr size_t kOffAnswer = 3;
inline constexpr size_t kOffLength = 4;
inline constexpr size_t kOffReserved = 8;
inline constexpr size_t kOffEndMark = 10;

// Command codes.
inline constexpr uint8_t kCmdDeviceInfo = 0x1E;
inline constexpr uint8_t kCmdWriteRequest = 0x32;
inline constexpr uint8_t kCmdReadRequest = 0x33;
inline constexpr uint8_t kCmdWriteBlock = 0x34;
inline constexpr uint8_t kCmdReadAck = 0x35;
inline constexpr uint8_t kCmdText = 0xFF;

// Answer codes.
inline constexpr uint8_t kAnsData = 0x34;
inline constexpr uint8_t kAnsAck = 0x35;
inline constexpr uint8_t kAnsRefusal = 0x36;

// Payload sizes of the transfers: each block starts with its number.
inline constexpr size_t kBlockNumberSize = 4;
inline constexpr size_t kWriteBlockData = kMaxCommandPayload - kBlockNumberSize;  // 32748
inline constexpr size_t kReadBlockDataMax = kMaxAnswerBody - kBlockNumberSize - kCrcSize;  // 32760

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }

// A view of a 12-byte header in place, so that packets are built and checked where they lie.
class PacketHeader {
 public:
  explicit PacketHeader(uint8_t* bytes) : p_(bytes) {}
  uint16_t StartMark() const { return GetU16(p_ + kOffStartMark); }
  uint8_t Code() const { return p_[kOffCode]; }
  uint8_t Answer() const { return p_[kOffAnswer]; }
  uint32_t Length() const { return GetU32(p_ + kOffLength); }
  uint16_t Reserved() const { return GetU16(p_ + kOffReserved); }
  uint16_t EndMark() const { return GetU16(p_ + kOffEndMark); }
  void SetStartMark(uint16_t v) { PutU16(p_ + kOffStartMark, v); }
  void SetCode(uint8_t v) { p_[kOffCode] = v; }
  void SetAnswer(uint8_t v) { p_[kOffAnswer] = v; }
  void SetLength(uint32_t v) { PutU32(p_ + kOffLength, v); }
  void SetReserved(uint16_t v) { PutU16(p_ + kOffReserved, v); }
  void SetEndMark(uint16_t v) { PutU16(p_ + kOffEndMark, v); }
  uint8_t* Bytes() const { return p_; }

 private:
  uint8_t* p_;
};

}  // namespace vxa
