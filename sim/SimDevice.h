#pragma once

#include <atomic>
#include <memory>

#include "link/FtDriver.h"
#include "sim/SimInstrument.h"

namespace vxa::sim {

// A handle on a simulated bridge, as SimBus::OpenByDescription gives it out. It shares the
// instrument with the bus, so it stays safe to call (and fails cleanly) after DetachAll.
class SimDevice final : public FtDevice {
 public:
  explicit SimDevice(std::shared_ptr<SimInstrument> instrument)
      : instrument_(std::move(instrument)) {}
  ~SimDevice() override {
    if (!closed_) instrument_->ReleaseHandle();
  }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  FtStatus ResetDevice() override {
    return closed_ ? kFtInvalidHandle : instrument_->ResetDevice();
  }
  FtStatus SetLatencyTimer(uint8_t milliseconds) override {
    return closed_ ? kFtInvalidHandle : instrument_->SetLatencyTimer(milliseconds);
  }
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override {
    return closed_ ? kFtInvalidHandle
                   : instrument_->SetUSBParameters(inTransferSize, outTransferSize);
  }
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override {
    return closed_ ? kFtInvalidHandle : instrument_->SetTimeouts(readTimeoutMs, writeTimeoutMs);
  }
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override {
    return closed_ ? kFtInvalidHandle
                   : instrument_->SetDataCharacteristics(wordLength, stopBits, parity);
  }
  FtStatus GetModemStatus(uint32_t* modemStatus) override {
    return closed_ ? kFtInvalidHandle : instrument_->GetModemStatus(modemStatus);
  }
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override {
    return closed_ ? kFtInvalidHandle : instrument_->SetFlowControl(mode, xon, xoff);
  }
  FtStatus SetDivisor(uint16_t divisor) override {
    return closed_ ? kFtInvalidHandle : instrument_->SetDivisor(divisor);
  }
  FtStatus Purge(uint32_t mask) override {
    return closed_ ? kFtInvalidHandle : instrument_->Purge(mask);
  }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    if (closed_) return kFtInvalidHandle;
    if (aborted_.load()) {
      if (written != nullptr) *written = 0;
      return kFtAborted;
    }
    return instrument_->Write(buffer, count, written);
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override {
    return closed_ ? kFtInvalidHandle : instrument_->Read(buffer, count, read, aborted_);
  }
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override {
    return closed_ ? kFtInvalidHandle : instrument_->GetStatus(rxQueue, txQueue, eventStatus);
  }
  FtStatus Close() override {
    if (closed_) return kFtInvalidHandle;
    bool released = false;
    const FtStatus status = instrument_->Close(&released);
    closed_ = released;
    return status;
  }
  void Abort() override { aborted_.store(true); }

 private:
  std::shared_ptr<SimInstrument> instrument_;
  bool closed_ = false;  // only the one thread that uses the handle touches it
  std::atomic<bool> aborted_{false};
};

}  // namespace vxa::sim
