#pragma once

#include <ftdi.h>

#include <memory>
#include <string>

#include "link/drivers/FtdiSeam.h"

namespace vxa {

// libftdi1 calls on one opened context, passed through as they are.
class LibFtdiLink final : public ftdi::FtdiLink {
 public:
  struct ContextFree {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
  };
  using Context = std::unique_ptr<ftdi_context, ContextFree>;

  // `context` has its device open.
  explicit LibFtdiLink(Context context) : context_(std::move(context)) {}
  // ftdi_free closes the device if Close() was not called, and gives the kernel driver back.
  ~LibFtdiLink() override = default;

  int Reset() override;
  int SetLatencyTimer(uint8_t milliseconds) override;
  int SetChunkSizes(uint32_t read, uint32_t write) override;
  int SetLineProperty(int bits, int stopBits, int parity) override;
  int PollModemStatus(uint16_t* status) override;
  int SetFlowControl(int mode) override;
  int SetDivisor(uint16_t divisor) override;
  int Flush(bool input, bool output) override;
  void SetUsbTimeouts(int readMs, int writeMs) override;
  int ReadData(uint8_t* buffer, int size) override;
  int WriteData(const uint8_t* buffer, int size) override;
  uint32_t Buffered() const override;
  int Close() override;
  std::string ErrorString() const override { return error_; }

 private:
  int Note(int result);

  Context context_;
  std::string error_;
};

}  // namespace vxa
