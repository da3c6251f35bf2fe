#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "link/FtDriver.h"

namespace vxa::bench {

// An instrument that answers every transfer command at once and keeps nothing of what it is
// sent: with it, the time and the allocations of a traffic step are the program's own, without
// the simulator's line model and records. It accepts every write (acknowledging each block by its
// number) and reads back `file` for any read, in blocks of 32760 bytes. It never checks what it
// is sent; the program's side is what is measured.
class LoopbackDevice final : public FtDevice {
 public:
  explicit LoopbackDevice(std::span<const uint8_t> file);

  FtStatus ResetDevice() override { return kFtOk; }
  FtStatus SetLatencyTimer(uint8_t) override { return kFtOk; }
  FtStatus SetUSBParameters(uint32_t, uint32_t) override { return kFtOk; }
  FtStatus SetTimeouts(uint32_t, uint32_t) override { return kFtOk; }
  FtStatus SetDataCharacteristics(uint8_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus GetModemStatus(uint32_t* status) override;
  FtStatus SetFlowControl(uint16_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus SetDivisor(uint16_t) override { return kFtOk; }
  FtStatus Purge(uint32_t mask) override;
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override;
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override;
  FtStatus Close() override { return kFtOk; }
  void Abort() override {}  // answers at once: nothing is ever in flight

 private:
  // The answer waiting to be read: a head (header and block number), a body that stays where it
  // is in the file, and the CRC.
  void Answer(uint8_t code, uint8_t answer, uint32_t number, std::span<const uint8_t> body,
              uint32_t crc);
  void SendReadBlock(uint8_t code, uint32_t index);
  uint32_t Pending() const;

  std::span<const uint8_t> file_;
  std::vector<uint32_t> readBlockCrcs_;  // computed once, so that answering costs no CRC
  uint8_t head_[16] = {};
  uint8_t tail_[4] = {};
  std::span<const uint8_t> body_;
  uint32_t answerSize_ = 0;
  uint32_t answerRead_ = 0;
};

class LoopbackDriver final : public FtDriver {
 public:
  explicit LoopbackDriver(std::span<const uint8_t> file) : file_(file) {}
  FtStatus CountDevices(uint32_t* count) override;
  FtStatus DeviceDescription(uint32_t index, std::string* description) override;
  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) override;
  std::string LastError() const override { return {}; }

 private:
  std::span<const uint8_t> file_;
};

}  // namespace vxa::bench
