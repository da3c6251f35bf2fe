#pragma once

namespace vxa {

// A source of data for a write transfer and a sink for a read transfer, with a position and a
// size. The position is also read, without the connection's lock, by the progress display.
class TBasicTransBuffer {
 public:
  virtual ~TBasicTransBuffer() = default;

  // Copies up to `length` bytes from the position and moves the position past them.
  virtual int Read(void* destination, int length) = 0;
  // Takes up to `length` bytes at the position and moves past them; returns the count taken.
  virtual int Write(const void* source, int length) = 0;
  // As Read, without moving. A buffer that cannot be read back gives nothing.
  virtual int Peek(void* /*destination*/, int /*length*/) { return 0; }
  virtual int GetPosition() const = 0;
  virtual int SetPosition(int position) = 0;
  virtual int GetSize() const = 0;
};

}  // namespace vxa
