#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/BridgeErrors.h"

namespace vxa {

// One bridge reached through a Windows COM port (the vendor's virtual COM port driver, or any
// port that carries the instrument's line). The same settings and the same meaning of each call
// as the Linux serial-port backend: reads and writes end at the program's own deadlines, and a
// port without modem lines reads them as all low.
class ComPortDevice final : public FtDevice {
 public:
  struct Failure {
    FtStatus status = kFtOk;
    std::string text;
  };

  // Opens `port` ("COM3") exclusively and puts it into raw mode. Null with the reason on failure.
  static std::unique_ptr<ComPortDevice> Open(const std::string& port, Failure* failure);
  ~ComPortDevice() override;
  ComPortDevice(const ComPortDevice&) = delete;
  ComPortDevice& operator=(const ComPortDevice&) = delete;

  FtStatus ResetDevice() override;
  FtStatus SetLatencyTimer(uint8_t milliseconds) override;
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override;
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override;
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override;
  FtStatus GetModemStatus(uint32_t* modemStatus) override;
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override;
  FtStatus SetDivisor(uint16_t divisor) override;
  FtStatus Purge(uint32_t mask) override;
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override;
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override;
  FtStatus Close() override;

  // The cause of the latest failure, in the catalogue's words.
  std::string LastError() const { return error_.Get(); }

  // The failure of a system call on `port`, in the catalogue's words: its status and its text.
  static Failure Describe(unsigned long systemError, const std::string& port);

 private:
  // What the program asked for, kept so that a reset can put it all back.
  struct Line {
    uint8_t wordLength = kFtBits8;
    uint8_t stopBits = 0;  // the vendor's value for one stop bit; Windows counts the same way
    uint8_t parity = kFtParityNone;
    uint16_t flow = kFtFlowNone;
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
    uint32_t baud = 0;  // 0: leave the port's speed alone
  };

  ComPortDevice(void* handle, std::string port);
  // Applies `line`; on success it becomes the current line. Returns 0 or the system's error.
  unsigned long ApplyLine(const Line& line);
  FtStatus ApplyOrFail(const Line& line);
  // Sets the port's own read timeout for the next ReadFile, if it differs from the last one.
  bool SetReadWait(unsigned long readMs);
  FtStatus Fail(unsigned long systemError);
  FtStatus NotOpen();

  void* handle_;
  std::string port_;
  Line line_;
  uint32_t readTimeoutMs_ = 0;  // 0: no limit, as with the vendor's library
  uint32_t writeTimeoutMs_ = 0;
  unsigned long readWaitMs_ = 0;  // as last given to the port
  bool timeoutsSet_ = false;
  ErrorNote error_;
};

}  // namespace vxa
