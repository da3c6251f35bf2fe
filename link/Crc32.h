#pragma once

#include <cstddef>
#include <cstdint>

namespace vxa {

// CRC-32/JAMCRC: the reflected CRC-32 (0xEDB88320), initial value 0xFFFFFFFF, no final XOR.
// Because there is no final XOR, the CRC over data followed by its own stored CRC is 0.
inline constexpr uint32_t kCrcInit = 0xFFFFFFFFu;

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);
inline uint32_t Crc32Jam(const void* data, size_t length) {
  return Crc32Update(kCrcInit, data, length);
}

}  // namespace vxa
