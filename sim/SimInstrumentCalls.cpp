// The calls on an opened handle of the simulated bridge (SimDevice forwards here), each paid for
// on the clock as the bridge would take it, and the line that carries the instrument's answers.
#include <algorithm>
#include <cstring>

#include "sim/SimInstrument.h"

namespace vxa::sim {
namespace {

// The longest a read waits before it looks whether it was aborted.
constexpr Clock::Duration kAbortSlice = std::chrono::milliseconds(10);

}  // namespace

// ---- The handle's side ----------------------------------------------------------------------

FtStatus SimInstrument::Refusal(Call call) {
  if (GoneLocked()) return kFtIoError;
  return failures_[static_cast<size_t>(call)].Take().value_or(kFtOk);
}

template <typename Apply>
FtStatus SimInstrument::ControlRequest(Call call, uint32_t a, uint32_t b, uint32_t c, Apply apply) {
  FtStatus status;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(CallRecord{call, a, b, c});
    if (GoneLocked()) return kFtIoError;
    status = Refusal(call);
    if (status == kFtOk) apply();
    ++line_.controlRequests;
  }
  // The request goes to the bridge and back within a USB frame; the line goes on meanwhile.
  clock_.Sleep(timing_.controlRequestCost);
  return status;
}

FtStatus SimInstrument::ResetDevice() {
  return ControlRequest(Call::ResetDevice, 0, 0, 0, [this] { toHost_.Clear(clock_.Now()); });
}

FtStatus SimInstrument::SetLatencyTimer(uint8_t milliseconds) {
  return ControlRequest(Call::SetLatencyTimer, milliseconds, 0, 0, [this, milliseconds] {
    toHost_.SetLatencyTimer(std::chrono::milliseconds(milliseconds));
  });
}

FtStatus SimInstrument::SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) {
  return ControlRequest(Call::SetUSBParameters, inTransferSize, outTransferSize, 0, [] {});
}

FtStatus SimInstrument::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  // Kept by the driver on the computer: no USB request, no time.
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::SetTimeouts, readTimeoutMs, writeTimeoutMs});
  const FtStatus status = Refusal(Call::SetTimeouts);
  if (status != kFtOk) return status;
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
  return kFtOk;
}

FtStatus SimInstrument::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits,
                                               uint8_t parity) {
  return ControlRequest(Call::SetDataCharacteristics, wordLength, stopBits, parity, [] {});
}

FtStatus SimInstrument::GetModemStatus(uint32_t* modemStatus) {
  if (modemStatus == nullptr) return kFtInvalidParameter;
  uint32_t value = 0;
  FtStatus status;
  {
    std::lock_guard lock(mutex_);
    value = cts_ ? kFtModemCts : 0;
    calls_.push_back(CallRecord{Call::GetModemStatus, value});
    if (GoneLocked()) return kFtIoError;
    status = Refusal(Call::GetModemStatus);
    ++line_.controlRequests;
  }
  clock_.Sleep(timing_.controlRequestCost);
  if (status == kFtOk) *modemStatus = value;
  return status;
}

FtStatus SimInstrument::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  return ControlRequest(Call::SetFlowControl, mode, xon, xoff,
                        [this, mode] { flowControl_ = mode; });
}

FtStatus SimInstrument::SetDivisor(uint16_t divisor) {
  return ControlRequest(Call::SetDivisor, divisor, 0, 0, [this, divisor] {
    divisor_ = divisor;
    toHost_.SetBaud(BaudRateOfDivisor(divisor));
  });
}

FtStatus SimInstrument::Purge(uint32_t mask) {
  return ControlRequest(Call::Purge, mask, 0, 0, [this, mask] {
    ++line_.purges;
    if (mask & kFtPurgeRx) {
      // What is still on its way goes too; a babbling line goes on sending after this.
      const Clock::TimePoint now = clock_.Now();
      toHost_.Advance(now);
      toHost_.Clear(now);
    }
    // Writes are synchronous: the transmit queue is always empty.
  });
}

FtStatus SimInstrument::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *written = 0;
  Clock::Duration duration{0};
  bool held = false;
  {
    std::lock_guard lock(mutex_);
    const FtStatus status = Refusal(Call::Write);
    if (status != kFtOk) {
      calls_.push_back(CallRecord{Call::Write, count, 0});
      return status;
    }
    if (flowControl_ == kFtFlowRtsCts && !cts_) {
      // The bridge holds everything back until the write timeout: nothing goes out.
      held = true;
      calls_.push_back(CallRecord{Call::Write, count, 0});
      duration = std::chrono::milliseconds(writeTimeoutMs_);
    } else if (timing_.paced) {
      duration = toHost_.LineTime(count);
    }
  }
  clock_.Sleep(duration);
  if (held) return kFtOk;

  std::lock_guard lock(mutex_);
  const bool gone = GoneLocked();
  calls_.push_back(CallRecord{Call::Write, count, gone ? 0 : count});
  if (gone) return kFtIoError;
  ++line_.writes;
  line_.bytesHostToDevice += count;
  const Clock::TimePoint now = clock_.Now();
  toHost_.Advance(now);
  if (model_) {
    model_->Receive(std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), count), now,
                    *this);
  }
  *written = count;
  return kFtOk;
}

FtStatus SimInstrument::Read(void* buffer, uint32_t count, uint32_t* read,
                             const std::atomic<bool>& aborted) {
  if (read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *read = 0;
  std::unique_lock lock(mutex_);
  const FtStatus status = Refusal(Call::Read);
  if (status != kFtOk) {
    calls_.push_back(CallRecord{Call::Read, count, 0});
    return status;
  }
  const bool forever = readTimeoutMs_ == 0;  // the driver's default: no timeout
  const Clock::TimePoint deadline = clock_.Now() + std::chrono::milliseconds(readTimeoutMs_);
  for (;;) {
    const Clock::TimePoint now = clock_.Now();
    toHost_.Advance(now);
    const size_t arrived = toHost_.ArrivedBy(now);
    bool done = arrived >= count || (!forever && now >= deadline);
    std::optional<Clock::TimePoint> next;
    if (!done) {
      // Sleep straight to the moment the last wanted byte arrives, or to the deadline.
      next = toHost_.WhenArrived(count);
      if (!next) next = BabbleArrival(count);
      if (forever && !next && toHost_.Queued() > arrived) {
        // Without a timeout, and fewer bytes on their way than asked for: waiting for more would
        // hang the caller for good, so wait only for the last of those.
        next = toHost_.WhenArrived(toHost_.Queued());
      }
      if (!forever) next = next ? std::min(*next, deadline) : deadline;
      // (A time not after now cannot happen; never spin on it.)
      done = !next || *next <= now;
    }
    if (done) {
      const size_t taken = toHost_.Pop(
          std::span<uint8_t>(static_cast<uint8_t*>(buffer), std::min<size_t>(arrived, count)));
      *read = static_cast<uint32_t>(taken);
      ++line_.reads;
      line_.bytesReadByHost += taken;
      calls_.push_back(CallRecord{Call::Read, count, *read});
      return kFtOk;
    }
    lock.unlock();
    // In slices, so that an abort from another thread ends the wait within one.
    clock_.SleepUntil(std::min(*next, clock_.Now() + kAbortSlice));
    lock.lock();
    if (GoneLocked()) {
      calls_.push_back(CallRecord{Call::Read, count, 0});
      return kFtIoError;
    }
    if (aborted.load()) {
      calls_.push_back(CallRecord{Call::Read, count, 0});
      return kFtAborted;
    }
  }
}

FtStatus SimInstrument::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  if (rxQueue == nullptr || txQueue == nullptr) return kFtInvalidParameter;
  std::lock_guard lock(mutex_);
  const FtStatus status = Refusal(Call::GetStatus);
  if (status != kFtOk) {
    calls_.push_back(CallRecord{Call::GetStatus});
    return status;
  }
  const Clock::TimePoint now = clock_.Now();
  toHost_.Advance(now);
  *rxQueue = static_cast<uint32_t>(toHost_.ArrivedBy(now));
  *txQueue = 0;
  if (eventStatus) *eventStatus = 0;
  calls_.push_back(CallRecord{Call::GetStatus, *rxQueue});
  return kFtOk;
}

FtStatus SimInstrument::Close(bool* released) {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::Close});
  *released = false;
  const bool gone = GoneLocked();
  if (!gone) {
    if (const auto failed = failures_[static_cast<size_t>(Call::Close)].Take()) return *failed;
  }
  *released = true;
  if (open_) {
    open_ = false;
    --line_.openHandles;
  }
  return gone ? kFtIoError : kFtOk;
}

void SimInstrument::ReleaseHandle() {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::Close});
  if (open_) {
    open_ = false;
    --line_.openHandles;
  }
}

// ---- The line ------------------------------------------------------------------------------

void SimInstrument::Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) {
  std::vector<uint8_t> replacement;
  if (!replacements_.empty() && !toHost_.Drowns(readyAt)) {
    replacement = std::move(replacements_.front());
    replacements_.pop_front();
    packet = replacement;
  }
  toHost_.Transmit(packet, readyAt);
}

void SimInstrument::StartBabble(Clock::TimePoint from, Clock::TimePoint until) {
  toHost_.StartBabble(from, until);
}

void SimInstrument::Disconnect() {
  unplugged_ = true;
}

std::optional<Clock::TimePoint> SimInstrument::BabbleArrival(size_t count) const {
  if (!toHost_.Babbling()) return std::nullopt;
  const size_t queued = toHost_.Queued();
  if (count <= queued) return std::nullopt;  // then it is up to the queue
  const size_t missing = count - queued;
  if (missing > toHost_.Free()) return std::nullopt;  // it would overrun
  return toHost_.NoiseArrival((missing + kUsbPacketData - 1) / kUsbPacketData);
}

}  // namespace vxa::sim
