#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/DriverErrorReport.h"
#include "link/drivers/SerialPortErrors.h"
#include "base/UniqueFd.h"

namespace vxa {

// One bridge reached through the kernel's serial port: a /dev/ttyUSBn of the ftdi_sio driver, or
// a pseudo-terminal with the simulated instrument on its other side. Timeouts are enforced with
// poll() deadlines in real time; nothing here spins.
class SerialPortDevice final : public FtDevice, public DriverErrorReport {
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

  std::string LastError() const override { return error_.Get(); }
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
