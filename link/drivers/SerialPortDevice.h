#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/BridgeErrors.h"
#include "link/drivers/SerialPortErrors.h"
#include "base/UniqueFd.h"

namespace vxa {

// One bridge reached through the kernel's serial port: a /dev/ttyUSBn of the ftdi_sio driver, or
// a pseudo-terminal with the simulated instrument on its other side. Timeouts are enforced with
// poll() deadlines in real time; nothing here spins.
class SerialPortDevice final : public FtDevice {
 public:
  struct Location {
    std::string path;
    // "ttyUSB0" when the kernel's usb-serial layer serves the port: its latency timer is then
    // reachable through sysfs. Empty for anything else.
    std::string ttyName;
    std::string sysRoot = "/sys";
  };

  // Opens the port exclusively in raw mode. On failure returns nullptr and says why.
  static std::unique_ptr<SerialPortDevice> Open(const Location& where, serial::Failure* failure);

  SerialPortDevice(const SerialPortDevice&) = delete;
  SerialPortDevice& operator=(const SerialPortDevice&) = delete;

  // The kernel has no reset request: both queues are flushed and the line set again.
  FtStatus ResetDevice() override;
  // Through sysfs where the user may write it, else ftdi_sio's low-latency flag (1 ms).
  FtStatus SetLatencyTimer(uint8_t milliseconds) override;
  // Accepted: the kernel driver chooses its own transfer sizes.
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override;
  // The poll() deadlines of Read and Write.
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override;
  // termios, kept in the Line that ResetDevice puts back. No DTR/DSR flow control.
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override;
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override;
  // The divisor's baud rate, checked against the speed the kernel reports back.
  FtStatus SetDivisor(uint16_t divisor) override;
  // The modem lines of TIOCMGET; a pseudo-terminal's all read as low.
  FtStatus GetModemStatus(uint32_t* modemStatus) override;
  FtStatus Purge(uint32_t mask) override;  // tcflush
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override;
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  // The kernel's queues (FIONREAD, TIOCOUTQ).
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override;
  FtStatus Close() override;

  // The cause of the latest failure; empty while nothing has failed.
  std::string LastError() const { return error_.Get(); }
  // The speed the kernel reported after the last SetDivisor; 0 before the first.
  uint32_t LineSpeed() const { return lineSpeed_; }

 private:
  // What the program asked for, kept so that ResetDevice can put it all back.
  struct Line {
    uint8_t wordLength = kFtBits8;
    uint8_t stopBits = 0;  // the vendor's value for one stop bit
    uint8_t parity = kFtParityNone;
    uint16_t flow = kFtFlowNone;
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
    uint32_t baud = 0;  // 0: leave the port's speed alone
  };

  SerialPortDevice(UniqueFd fd, Location where);

  // Applies `line` to the port; on success it becomes the current line. Returns 0 or errno.
  int ApplyLine(const Line& line);
  FtStatus ApplyOrFail(const Line& line, const char* what);
  FtStatus Fail(int err, const char* operation);
  FtStatus Fail(serial::Failure failure);
  FtStatus NotOpen();
  bool SetLatencyThroughSysfs(uint8_t milliseconds);

  UniqueFd fd_;
  Location where_;
  Line line_;
  uint32_t readTimeoutMs_ = 0;  // 0: no limit, as with the vendor's library
  uint32_t writeTimeoutMs_ = 0;
  uint32_t lineSpeed_ = 0;
  ErrorNote error_;
};

}  // namespace vxa
