#include "link/drivers/LibFtdiDevice.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "base/Deadline.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// libftdi's flow control values.
constexpr int kSioDisableFlowControl = 0x0000;
constexpr int kSioRtsCts = 0x0100;
constexpr int kSioDtrDsr = 0x0200;

constexpr uint32_t kMinTransferSize = 64;
constexpr uint32_t kMaxTransferSize = 65536;

// One USB transfer may take this long when the program set no limit of its own. The bridge sends
// a status packet at every latency period, so a healthy read transfer never gets near it.
constexpr int kUnlimitedTransferMs = 5000;
// ...and at least this long, so that control requests (which libftdi also times with these
// fields) are not cut short by a tight read timeout.
constexpr int kMinTransferMs = 1000;

// A read that came back empty sooner than this did not wait for the bridge's latency timer; the
// loop then pauses for a millisecond so that it can never turn into a spin.
constexpr auto kInstantReturn = std::chrono::microseconds(250);
constexpr auto kEmptyReadPause = std::chrono::milliseconds(1);

int TransferLimitMs(uint32_t timeoutMs) {
  if (timeoutMs == 0) return kUnlimitedTransferMs;
  return static_cast<int>(std::clamp<uint32_t>(timeoutMs, kMinTransferMs, INT_MAX));
}

int AsInt(uint32_t count) {
  return static_cast<int>(std::min<uint32_t>(count, INT_MAX));
}

}  // namespace

LibFtdiDevice::LibFtdiDevice(std::unique_ptr<ftdi::FtdiLink> link, std::string name)
    : link_(std::move(link)), name_(std::move(name)) {}

FtStatus LibFtdiDevice::NotOpen() {
  error_.Set("the FTDI bridge \"" + name_ + "\" is closed");
  return kFtInvalidHandle;
}

FtStatus LibFtdiDevice::Fail(int result) {
  if (result == ftdi::kUsbErrorNoDevice) {
    error_.Set(BridgeCause::kDisconnected, VXA_MSG(msg::kCauseDisconnected));
  } else {
    // libftdi's own words, which are English whatever the language.
    error_.Set(BridgeCause::kOther, FormatText(VXA_MSG(msg::kCauseBridgeError), name_.c_str(),
                                               link_->ErrorString().c_str(), result));
  }
  return kFtIoError;
}

FtStatus LibFtdiDevice::Check(int result) {
  return result < 0 ? Fail(result) : kFtOk;
}

void LibFtdiDevice::ApplyUsbTimeouts() {
  link_->SetUsbTimeouts(TransferLimitMs(readTimeoutMs_), TransferLimitMs(writeTimeoutMs_));
}

uint32_t LibFtdiDevice::TakeHeld(uint8_t* out, uint32_t count) {
  const uint32_t taken = std::min(count, heldLength_);
  std::memcpy(out, held_.data() + heldStart_, taken);
  heldStart_ += taken;
  heldLength_ -= taken;
  if (heldLength_ == 0) heldStart_ = 0;
  return taken;
}

FtStatus LibFtdiDevice::ResetDevice() {
  if (!link_) return NotOpen();
  DropHeld();
  return Check(link_->Reset());
}

FtStatus LibFtdiDevice::SetLatencyTimer(uint8_t milliseconds) {
  if (!link_) return NotOpen();
  if (const FtStatus status = CheckLatencyTimer(milliseconds, error_); status != kFtOk) {
    return status;
  }
  return Check(link_->SetLatencyTimer(milliseconds));
}

FtStatus LibFtdiDevice::SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) {
  if (!link_) return NotOpen();
  if (inTransferSize < kMinTransferSize || inTransferSize > kMaxTransferSize ||
      outTransferSize < kMinTransferSize || outTransferSize > kMaxTransferSize) {
    error_.Set("USB transfer sizes must lie between 64 and 65536 bytes");
    return kFtInvalidParameter;
  }
  return Check(link_->SetChunkSizes(std::min(inTransferSize, kMaxReadChunk), outTransferSize));
}

FtStatus LibFtdiDevice::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  if (!link_) return NotOpen();
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
  ApplyUsbTimeouts();
  return kFtOk;
}

FtStatus LibFtdiDevice::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits,
                                               uint8_t parity) {
  if (!link_) return NotOpen();
  if (const FtStatus status = CheckLineFormat(wordLength, stopBits, parity, error_);
      status != kFtOk) {
    return status;
  }
  // The vendor's numbers for data bits, stop bits and parity are libftdi's enumerators.
  return Check(link_->SetLineProperty(wordLength, stopBits, parity));
}

FtStatus LibFtdiDevice::GetModemStatus(uint32_t* modemStatus) {
  if (modemStatus == nullptr) return kFtInvalidParameter;
  *modemStatus = 0;
  if (!link_) return NotOpen();
  uint16_t status = 0;
  if (const int result = link_->PollModemStatus(&status); result < 0) {
    return Fail(result);
  }
  // Low byte: the modem lines in the vendor's bits (its low nibble is reserved); high byte: the
  // line status, where the vendor's library also puts it.
  *modemStatus = status & 0xFFF0u;
  return kFtOk;
}

FtStatus LibFtdiDevice::SetFlowControl(uint16_t mode, uint8_t, uint8_t) {
  if (!link_) return NotOpen();
  int sioMode = 0;
  switch (mode) {
    case kFtFlowNone:
      sioMode = kSioDisableFlowControl;
      break;
    case kFtFlowRtsCts:
      sioMode = kSioRtsCts;
      break;
    case kFtFlowDtrDsr:
      sioMode = kSioDtrDsr;
      break;
    case kFtFlowXonXoff:
      error_.Set("XON/XOFF flow control is not offered by this backend");
      return kFtNotSupported;
    default:
      return RefuseFlowControl(error_);
  }
  return Check(link_->SetFlowControl(sioMode));
}

FtStatus LibFtdiDevice::SetDivisor(uint16_t divisor) {
  if (!link_) return NotOpen();
  return Check(link_->SetDivisor(divisor));
}

FtStatus LibFtdiDevice::Purge(uint32_t mask) {
  if (!link_) return NotOpen();
  if (const FtStatus status = CheckPurgeMask(mask, error_); status != kFtOk) return status;
  const bool input = (mask & kFtPurgeRx) != 0;
  const bool output = (mask & kFtPurgeTx) != 0;
  if (!input && !output) return kFtOk;
  if (input) DropHeld();
  return Check(link_->Flush(input, output));
}

FtStatus LibFtdiDevice::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *written = 0;
  if (!link_) return NotOpen();
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const Deadline deadline = DeadlineAfter(writeTimeoutMs_);
  uint32_t done = 0;
  FtStatus status = kFtOk;
  while (done < count) {
    if (aborted_.load()) {
      status = kFtAborted;
      break;
    }
    int sliceLimitMs = TransferLimitMs(0);
    if (deadline) {
      const int left = PollTimeoutMs(deadline);
      if (left == 0) break;  // timed out: success with fewer bytes, as the vendor's
      sliceLimitMs = left;
    }
    // Each slice may only use what is left of the write timeout.
    link_->SetUsbTimeouts(TransferLimitMs(readTimeoutMs_), sliceLimitMs);
    const uint32_t slice = std::min(count - done, kWriteSlice);
    const int result = link_->WriteData(bytes + done, static_cast<int>(slice));
    if (result < 0) {
      // libftdi reports a timed-out transfer like any other failure; the deadline tells them
      // apart. A slice cut short counts as not written.
      if (!Expired(deadline)) status = Fail(result);
      break;
    }
    if (result == 0) break;  // cannot happen for a non-empty slice; never loop on it
    done += static_cast<uint32_t>(result);
  }
  if (link_) ApplyUsbTimeouts();
  *written = done;
  return status;
}

FtStatus LibFtdiDevice::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *read = 0;
  if (!link_) return NotOpen();
  if (aborted_.load()) return kFtAborted;
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t got = TakeHeld(bytes, count);
  const Deadline deadline = DeadlineAfter(readTimeoutMs_);
  while (got < count && !Expired(deadline)) {
    if (aborted_.load()) {
      *read = got;
      return kFtAborted;
    }
    const auto started = SteadyClock::now();
    const int result = link_->ReadData(bytes + got, AsInt(count - got));
    // A transfer that timed out in libusb only means the bridge stayed silent for all of it.
    if (result == ftdi::kUsbErrorTimeout) continue;
    if (result < 0) {
      *read = got;
      return Fail(result);
    }
    got += static_cast<uint32_t>(result);
    if (result == 0 && SteadyClock::now() - started < kInstantReturn) {
      std::this_thread::sleep_for(kEmptyReadPause);
    }
  }
  *read = got;
  return kFtOk;
}

FtStatus LibFtdiDevice::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  if (rxQueue == nullptr || txQueue == nullptr || eventStatus == nullptr) {
    return kFtInvalidParameter;
  }
  *rxQueue = *txQueue = *eventStatus = 0;
  if (!link_) return NotOpen();
  // The vendor's driver fills its receive queue in the background; libftdi only reads when
  // asked. Fetch what the bridge holds now into our own buffer, so that the count means the
  // same: bytes that arrived and were not read yet. (A line that keeps babbling is seen that
  // way, and the exchange's drain goes on purging it.)
  if (heldStart_ > 0 && heldLength_ > 0) {
    std::memmove(held_.data(), held_.data() + heldStart_, heldLength_);
  }
  heldStart_ = 0;
  if (heldLength_ < kHoldCapacity) {
    const int result =
        link_->ReadData(held_.data() + heldLength_, static_cast<int>(kHoldCapacity - heldLength_));
    if (result < 0 && result != ftdi::kUsbErrorTimeout) return Fail(result);
    if (result > 0) heldLength_ += static_cast<uint32_t>(result);
  }
  *rxQueue = heldLength_ + link_->Buffered();
  *txQueue = 0;  // writes are synchronous: nothing waits on our side of the bus
  return kFtOk;
}

FtStatus LibFtdiDevice::Close() {
  if (!link_) return NotOpen();
  // Whatever ftdi_usb_close says, the context goes: the handle is invalid from here on.
  link_->Close();
  link_.reset();
  DropHeld();
  return kFtOk;
}

}  // namespace vxa
