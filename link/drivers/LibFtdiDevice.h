#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/BridgeErrors.h"
#include "link/drivers/FtdiSeam.h"

namespace vxa {

// One bridge driven from user space through libftdi (the kernel driver detached meanwhile).
// libftdi reads synchronously: one call returns after one USB transfer, often empty, so the
// vendor library's "n bytes or the timeout" is built here as a loop against a real-time deadline.
class LibFtdiDevice final : public FtDevice {
 public:
  // libftdi on Linux takes read transfers of at most this many bytes.
  static constexpr uint32_t kMaxReadChunk = 16384;
  // Writes go out in slices of this size, so that a write that runs into its timeout can still
  // say how much of it went out (libftdi loses the count of a failed call).
  static constexpr uint32_t kWriteSlice = 4096;
  // What GetStatus may fetch ahead of the program's own reads.
  static constexpr uint32_t kHoldCapacity = 4096;

  // `name` is what the messages call the bridge (its description).
  LibFtdiDevice(std::unique_ptr<ftdi::FtdiLink> link, std::string name);
  ~LibFtdiDevice() override = default;
  LibFtdiDevice(const LibFtdiDevice&) = delete;
  LibFtdiDevice& operator=(const LibFtdiDevice&) = delete;

  // ftdi_usb_reset; what GetStatus fetched ahead is dropped.
  FtStatus ResetDevice() override;
  FtStatus SetLatencyTimer(uint8_t milliseconds) override;
  // libftdi's chunk sizes; a read transfer takes at most kMaxReadChunk.
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override;
  // The deadlines of Read and Write, and the limit of each USB transfer (a second at least).
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override;
  // The vendor's values are libftdi's. No XON/XOFF flow control.
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override;
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override;
  FtStatus SetDivisor(uint16_t divisor) override;  // the raw divisor request
  // The modem lines in the low byte and the line status in the high byte, as the vendor's.
  FtStatus GetModemStatus(uint32_t* modemStatus) override;
  FtStatus Purge(uint32_t mask) override;  // an input purge also drops what was fetched ahead
  // In slices of kWriteSlice, each limited to what is left of the write timeout.
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override;
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  // Fetches what the bridge holds now (up to kHoldCapacity) and counts that as the queue.
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override;
  FtStatus Close() override;
  // libftdi has no cancel; a read returns after each USB transfer, which the bridge's status
  // packets keep to a latency period, and the loops look at the flag after each one.
  void Abort() override { aborted_.store(true); }

  // The cause of the latest failure; empty while nothing has failed.
  std::string LastError() const { return error_.Get(); }
  BridgeFault LastFault() const override { return error_.Fault(); }

 private:
  FtStatus Check(int result);
  FtStatus Fail(int result);
  FtStatus NotOpen();
  uint32_t TakeHeld(uint8_t* out, uint32_t count);
  void DropHeld() { heldStart_ = heldLength_ = 0; }
  void ApplyUsbTimeouts();

  std::unique_ptr<ftdi::FtdiLink> link_;
  const std::string name_;
  uint32_t readTimeoutMs_ = 0;  // 0: no limit, as with the vendor's library
  uint32_t writeTimeoutMs_ = 0;
  // Bytes fetched by GetStatus and not yet read by the program.
  std::array<uint8_t, kHoldCapacity> held_{};
  uint32_t heldStart_ = 0;
  uint32_t heldLength_ = 0;
  std::atomic<bool> aborted_{false};
  ErrorNote error_;
};

}  // namespace vxa
