#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// SHA-256 of bytes fed in pieces, so that a large buffer is hashed where it lies: the record of an
// update names the image it installed by this.
namespace vxa {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  Sha256();
  void Update(std::span<const uint8_t> bytes);
  // The digest of everything fed so far; the object is spent afterwards.
  Digest Finish();

  // The digest as 64 lower-case hexadecimal digits.
  static std::string Hex(const Digest& digest);
  static std::string HexOf(std::span<const uint8_t> bytes);

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pendingSize_ = 0;
  uint64_t length_ = 0;  // bytes fed
};

}  // namespace vxa
