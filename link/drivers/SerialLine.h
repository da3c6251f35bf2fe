#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/BridgeErrors.h"
#include "link/drivers/SerialPortIo.h"

namespace vxa {

// One bridge reached through the system's serial port: a /dev/ttyUSBn of the kernel's ftdi_sio
// driver or a pseudo-terminal on Linux, a COM port on Windows. The same settings, checks and
// texts on every platform; what differs is the port below (SerialPortIo). Reads and writes end
// at the program's own deadlines, and nothing here spins.
class SerialLine final : public FtDevice {
 public:
  // Opens the port exclusively in raw mode. On failure returns nullptr and says why.
  static std::unique_ptr<SerialLine> Open(const PortLocation& where, serial::Failure* failure);
  // Over a port opened already; `name` is what the messages call it.
  SerialLine(std::unique_ptr<SerialPortIo> port, std::string name);
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // A port has no reset request: both queues are flushed and the line set again.
  FtStatus ResetDevice() override;
  // Where the port has one; a shorter one than asked at worst, never a longer one.
  FtStatus SetLatencyTimer(uint8_t milliseconds) override;
  // The system's queue sizes where it takes them; the driver chooses its own transfer sizes.
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override;
  // The deadlines of Read and Write.
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override;
  // Kept in the line that ResetDevice puts back. No DTR/DSR flow control.
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override;
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override;
  // The divisor's baud rate, checked against the speed the port reports back.
  FtStatus SetDivisor(uint16_t divisor) override;
  // A port without modem lines (a pseudo-terminal) reads them all as low.
  FtStatus GetModemStatus(uint32_t* modemStatus) override;
  FtStatus Purge(uint32_t mask) override;
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override;
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  // The system's queues.
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override;
  FtStatus Close() override;
  void Abort() override;

  // The cause of the latest failure; empty while nothing has failed.
  std::string LastError() const { return error_.Get(); }
  BridgeFault LastFault() const override { return error_.Fault(); }
  // The speed the port reported after the last SetDivisor; 0 before the first.
  uint32_t LineSpeed() const { return lineSpeed_; }

 private:
  // Applies `line` to the open port; on success it becomes the current line. The system's error,
  // or 0.
  unsigned long Apply(const LineSettings& line);
  // `setting`: the port refused a setting of the line, which it then does not support.
  FtStatus Fail(PortError error, bool setting = false);
  FtStatus NotOpen();

  std::unique_ptr<SerialPortIo> port_;
  const std::string name_;
  LineSettings line_;
  uint32_t readTimeoutMs_ = 0;  // 0: no limit, as with the vendor's library
  uint32_t writeTimeoutMs_ = 0;
  uint32_t lineSpeed_ = 0;
  std::atomic<bool> aborted_{false};
  ErrorNote error_;
};

}  // namespace vxa
