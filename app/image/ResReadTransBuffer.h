#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "app/image/Resources.h"
#include "protocol/TransBuffer.h"

namespace vxa {

// The boot image as a transfer buffer. Reading gives the image's bytes; writing compares what
// arrives with the image instead of storing it, which makes every read from the instrument a
// verification. The bytes stay where the program was loaded: nothing is ever copied whole.
class TResReadTransBuffer final : public TBasicTransBuffer {
 public:
  // Finds the resource and takes its bytes; throws TBufferError when it is missing or empty.
  TResReadTransBuffer(const char* name, const char* type,
                      std::span<const EmbeddedResource> table = BuiltInResources());
  // Over any bytes that outlive the buffer.
  explicit TResReadTransBuffer(std::span<const uint8_t> bytes);

  int Read(void* destination, int length) override;
  // Throws TBufferError with the verification text when the bytes differ; the position stays.
  int Write(const void* source, int length) override;
  int Peek(void* destination, int length) override;
  int GetPosition() const override { return static_cast<int>(position_.load()); }
  int SetPosition(int position) override;
  int GetSize() const override { return static_cast<int>(size_); }

  const uint8_t* Data() const { return data_; }

  // Where the last comparison found the instrument's bytes to differ from the image, and how
  // many bytes it had been given by then (the position plus the block that failed).
  struct Difference {
    uint32_t offset;
    uint32_t compared;
  };
  std::optional<Difference> FirstDifference() const { return difference_; }
  // Whether the last read-back brought more bytes than the image holds.
  bool Overran() const { return overran_; }

 private:
  uint32_t Available(int length) const;

  std::atomic<uint32_t> position_{0};
  const EmbeddedResource* loaded_ = nullptr;
  const EmbeddedResource* found_ = nullptr;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  // Written and read by whoever holds the connection's lock or has stopped its traffic.
  std::optional<Difference> difference_;
  bool overran_ = false;
};

}  // namespace vxa
