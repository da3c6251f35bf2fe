#include "sim/SimInstrument.h"

#include <algorithm>
#include <cstring>

#include "sim/RxQueue.h"

namespace vxa::sim {
namespace {

// Bits per byte on the line: start, 8 data, 2 stop.
constexpr uint64_t kBitsPerByte = 11;
constexpr uint64_t kMicrosPerSecond = 1'000'000;
// Payload of one full USB packet from the bridge (64 bytes less its 2 status bytes).
constexpr size_t kUsbPacketData = 62;
// Room for two of the largest answers and then some; the chunk ring allows very short packets.
constexpr size_t kRxQueueBytes = size_t{1} << 17;
constexpr size_t kRxQueueChunks = size_t{1} << 14;

// Line noise: the same bytes every run, so that a failing test can be repeated.
uint8_t NoiseByte(uint64_t position) {
  uint64_t x = position * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<uint8_t>(x >> 24);
}

}  // namespace

SimInstrument::SimInstrument(PassKey, Clock& clock, const LineTiming& timing,
                             InstrumentConfig config, bool foreign)
    : clock_(clock),
      timing_(timing),
      config_(std::move(config)),
      foreign_(foreign),
      model_(foreign ? nullptr : std::make_unique<InstrumentModel>(config_)),
      rx_(std::make_unique<RxQueue>(kRxQueueBytes, kRxQueueChunks)),
      cts_(config_.cts),
      baud_(BaudRateOfDivisor(kFtDivisor1M5)),
      latency_(timing.latencyTimer) {
  calls_.reserve(4096);
}

SimInstrument::~SimInstrument() = default;

// ---- What tests set and read ----------------------------------------------------------------

void SimInstrument::Inject(const FaultSpec& faultSpec) {
  std::lock_guard lock(mutex_);
  if (model_) model_->Inject(faultSpec);
}

void SimInstrument::ClearFaults() {
  std::lock_guard lock(mutex_);
  StopBabble(clock_.Now());
  if (model_) model_->ClearFaults();
  failures_ = {};
}

void SimInstrument::FailNextCall(Call call, FtStatus status, int count) {
  std::lock_guard lock(mutex_);
  failures_[static_cast<size_t>(call)] = PendingFailure{status, status == kFtOk ? 0 : count};
}

void SimInstrument::ReplaceAnswers(std::vector<std::vector<uint8_t>> answers) {
  std::lock_guard lock(mutex_);
  replacements_.assign(std::make_move_iterator(answers.begin()),
                       std::make_move_iterator(answers.end()));
}

void SimInstrument::Unplug() {
  std::lock_guard lock(mutex_);
  unplugged_ = true;
}

void SimInstrument::SetCts(bool cts) {
  std::lock_guard lock(mutex_);
  cts_ = cts;
}

std::vector<CallRecord> SimInstrument::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void SimInstrument::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  if (model_) model_->ClearCommands();
}

std::vector<uint8_t> SimInstrument::LastCommand() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->LastCommand() : std::vector<uint8_t>{};
}

std::vector<std::vector<uint8_t>> SimInstrument::Commands() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->Commands() : std::vector<std::vector<uint8_t>>{};
}

std::vector<ReceivedBlock> SimInstrument::WriteBlocks(std::string_view file) const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->WriteBlocks(file) : std::vector<ReceivedBlock>{};
}

std::vector<uint8_t> SimInstrument::FileContent(std::string_view file) const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->FileContent(file) : std::vector<uint8_t>{};
}

void SimInstrument::SetFileContent(std::string_view file, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (model_) model_->SetFileContent(file, std::move(bytes));
}

std::array<uint16_t, kClockFields> SimInstrument::ClockRecord() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->ClockRecord() : std::array<uint16_t, kClockFields>{};
}

bool SimInstrument::ClockSet() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->ClockSet();
}

std::string SimInstrument::ProgramVersionText() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->ProgramVersionText(clock_.Now()) : std::string();
}

bool SimInstrument::Installed() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->Installed(clock_.Now());
}

bool SimInstrument::Installing() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->Installing(clock_.Now());
}

int SimInstrument::KernelRequests() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->KernelRequests() : 0;
}

SimInstrument::Counters SimInstrument::counters() const {
  std::lock_guard lock(mutex_);
  Counters all = line_;
  if (model_) static_cast<ProtocolCounters&>(all) = model_->counters();
  return all;
}

bool SimInstrument::Unplugged() const {
  std::lock_guard lock(mutex_);
  return unplugged_;
}

bool SimInstrument::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

// ---- The bus's side -------------------------------------------------------------------------

bool SimInstrument::Listed() const {
  std::lock_guard lock(mutex_);
  return !unplugged_;
}

bool SimInstrument::TakeFailure(Call call, FtStatus* status) {
  std::lock_guard lock(mutex_);
  const std::optional<FtStatus> failed = failures_[static_cast<size_t>(call)].Take();
  if (failed) *status = *failed;
  return failed.has_value();
}

void SimInstrument::Record(Call call, uint32_t a, uint32_t b, uint32_t c) {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{call, a, b, c});
}

bool SimInstrument::TryOpen(FtStatus* status) {
  std::lock_guard lock(mutex_);
  if (const auto failed = failures_[static_cast<size_t>(Call::OpenByDescription)].Take()) {
    *status = *failed;
  } else if (open_) {
    *status = kFtDeviceNotOpened;
  } else {
    // A freshly opened bridge starts from its power-on settings with empty queues.
    open_ = true;
    ++line_.openHandles;
    divisor_ = kFtDivisor1M5;
    baud_ = BaudRateOfDivisor(divisor_);
    latency_ = timing_.latencyTimer;
    readTimeoutMs_ = 0;
    writeTimeoutMs_ = 0;
    flowControl_ = kFtFlowNone;
    rx_->Clear();
    lineFreeAt_ = clock_.Now();
    *status = kFtOk;
  }
  calls_.push_back(CallRecord{Call::OpenByDescription, *status});
  return *status == kFtOk;
}

// ---- The handle's side ----------------------------------------------------------------------

FtStatus SimInstrument::Refusal(Call call) {
  if (unplugged_) return kFtIoError;
  return failures_[static_cast<size_t>(call)].Take().value_or(kFtOk);
}

template <typename Apply>
FtStatus SimInstrument::ControlRequest(Call call, uint32_t a, uint32_t b, uint32_t c, Apply apply) {
  FtStatus status;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(CallRecord{call, a, b, c});
    if (unplugged_) return kFtIoError;
    status = Refusal(call);
    if (status == kFtOk) apply();
    ++line_.controlRequests;
  }
  // The request goes to the bridge and back within a USB frame; the line goes on meanwhile.
  clock_.Sleep(timing_.controlRequestCost);
  return status;
}

FtStatus SimInstrument::ResetDevice() {
  return ControlRequest(Call::ResetDevice, 0, 0, 0, [this] {
    rx_->Clear();
    lineFreeAt_ = clock_.Now();
  });
}

FtStatus SimInstrument::SetLatencyTimer(uint8_t milliseconds) {
  return ControlRequest(Call::SetLatencyTimer, milliseconds, 0, 0, [this, milliseconds] {
    latency_ = std::chrono::milliseconds(milliseconds);
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
    if (unplugged_) return kFtIoError;
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
    baud_ = BaudRateOfDivisor(divisor);
  });
}

FtStatus SimInstrument::Purge(uint32_t mask) {
  return ControlRequest(Call::Purge, mask, 0, 0, [this, mask] {
    ++line_.purges;
    if (mask & kFtPurgeRx) {
      // What is still on its way goes too; a babbling line goes on sending after this.
      const Clock::TimePoint now = clock_.Now();
      PumpBabble(now);
      rx_->Clear();
      lineFreeAt_ = now;
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
      duration = LineTime(count);
    }
  }
  clock_.Sleep(duration);
  if (held) return kFtOk;

  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::Write, count, unplugged_ ? 0 : count});
  if (unplugged_) return kFtIoError;
  ++line_.writes;
  line_.bytesHostToDevice += count;
  const Clock::TimePoint now = clock_.Now();
  PumpBabble(now);
  if (model_) {
    model_->Receive(std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), count), now,
                    *this);
  }
  *written = count;
  return kFtOk;
}

FtStatus SimInstrument::Read(void* buffer, uint32_t count, uint32_t* read) {
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
    PumpBabble(now);
    const size_t arrived = rx_->ArrivedBy(now);
    bool done = arrived >= count || (!forever && now >= deadline);
    std::optional<Clock::TimePoint> next;
    if (!done) {
      // Sleep straight to the moment the last wanted byte arrives, or to the deadline.
      next = rx_->WhenArrived(count);
      if (!next) next = BabbleArrival(count);
      if (forever && !next && rx_->Queued() > arrived) {
        // Without a timeout, and fewer bytes on their way than asked for: waiting for more would
        // hang the caller for good, so wait only for the last of those.
        next = rx_->WhenArrived(rx_->Queued());
      }
      if (!forever) next = next ? std::min(*next, deadline) : deadline;
      // (A time not after now cannot happen; never spin on it.)
      done = !next || *next <= now;
    }
    if (done) {
      const size_t taken =
          rx_->Pop(static_cast<uint8_t*>(buffer), std::min<size_t>(arrived, count));
      *read = static_cast<uint32_t>(taken);
      ++line_.reads;
      line_.bytesReadByHost += taken;
      calls_.push_back(CallRecord{Call::Read, count, *read});
      return kFtOk;
    }
    lock.unlock();
    clock_.SleepUntil(*next);
    lock.lock();
    if (unplugged_) {
      calls_.push_back(CallRecord{Call::Read, count, 0});
      return kFtIoError;
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
  PumpBabble(now);
  *rxQueue = static_cast<uint32_t>(rx_->ArrivedBy(now));
  *txQueue = 0;
  if (eventStatus) *eventStatus = 0;
  calls_.push_back(CallRecord{Call::GetStatus, *rxQueue});
  return kFtOk;
}

FtStatus SimInstrument::Close(bool* released) {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::Close});
  *released = false;
  if (!unplugged_) {
    if (const auto failed = failures_[static_cast<size_t>(Call::Close)].Take()) return *failed;
  }
  *released = true;
  if (open_) {
    open_ = false;
    --line_.openHandles;
  }
  return unplugged_ ? kFtIoError : kFtOk;
}

void SimInstrument::ReleaseHandle() {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{Call::Close});
  if (open_) {
    open_ = false;
    --line_.openHandles;
  }
}

// ---- The line -------------------------------------------------------------------------------

Clock::Duration SimInstrument::LineTime(uint64_t bytes) const {
  // Rounded up: a byte is never there before its last stop bit.
  return Clock::Duration(
      static_cast<int64_t>((bytes * kBitsPerByte * kMicrosPerSecond + baud_ - 1) / baud_));
}

void SimInstrument::Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) {
  if (babbling_ && readyAt < babbleUntil_) {
    ++line_.answersLostInBabble;
    return;
  }
  std::vector<uint8_t> replacement;
  if (!replacements_.empty()) {
    replacement = std::move(replacements_.front());
    replacements_.pop_front();
    packet = replacement;
  }
  line_.bytesDeviceToHost += packet.size();
  if (!timing_.paced) {
    if (!rx_->Push(packet.data(), packet.size(), readyAt)) line_.overrunBytes += packet.size();
    return;
  }
  // Full USB packets leave the bridge as soon as they fill; the rest waits for the latency timer.
  const Clock::TimePoint start = std::max(readyAt, lineFreeAt_);
  for (size_t offset = 0; offset < packet.size(); offset += kUsbPacketData) {
    const size_t length = std::min(kUsbPacketData, packet.size() - offset);
    Clock::TimePoint at = start + LineTime(offset + length);
    if (length < kUsbPacketData) at += latency_;
    if (!rx_->Push(packet.data() + offset, length, at)) line_.overrunBytes += length;
  }
  lineFreeAt_ = start + LineTime(packet.size());
}

void SimInstrument::StartBabble(Clock::TimePoint from, Clock::TimePoint until) {
  babbling_ = true;
  babbleStart_ = std::max(from, lineFreeAt_);
  babbleUntil_ = until;
  babbleChunks_ = 0;
}

void SimInstrument::Disconnect() {
  unplugged_ = true;
}

void SimInstrument::PumpBabble(Clock::TimePoint now) {
  if (!babbling_) return;
  const Clock::TimePoint until = std::min(now, babbleUntil_);
  if (until > babbleStart_) {
    // The noise fills whole USB packets all the time, so the latency timer never matters.
    const auto elapsed = static_cast<uint64_t>((until - babbleStart_).count());
    const uint64_t due = elapsed * baud_ / (kBitsPerByte * kMicrosPerSecond) / kUsbPacketData;
    if (due > babbleChunks_) {
      const uint64_t fresh = due - babbleChunks_;
      const uint64_t room = rx_->Free() / kUsbPacketData;
      const uint64_t kept = std::min(fresh, room);
      for (uint64_t k = 0; k < kept; ++k) {
        const uint64_t chunk = babbleChunks_ + k;
        for (size_t i = 0; i < kUsbPacketData; ++i) {
          babbleChunk_[i] = NoiseByte(chunk * kUsbPacketData + i);
        }
        const Clock::TimePoint at = babbleStart_ + LineTime((chunk + 1) * kUsbPacketData);
        if (!rx_->Push(babbleChunk_.data(), kUsbPacketData, at))
          line_.overrunBytes += kUsbPacketData;
      }
      line_.overrunBytes += (fresh - kept) * kUsbPacketData;
      line_.bytesDeviceToHost += fresh * kUsbPacketData;
      babbleChunks_ = due;
    }
  }
  if (now >= babbleUntil_) {
    babbling_ = false;
    lineFreeAt_ = std::max(lineFreeAt_, babbleUntil_);
  }
}

std::optional<Clock::TimePoint> SimInstrument::BabbleArrival(size_t count) const {
  if (!babbling_) return std::nullopt;
  const size_t queued = rx_->Queued();
  if (count <= queued) return std::nullopt;  // then it is up to the queue
  const size_t missing = count - queued;
  if (missing > rx_->Free()) return std::nullopt;  // it would overrun
  const uint64_t chunks = (missing + kUsbPacketData - 1) / kUsbPacketData;
  const Clock::TimePoint at = babbleStart_ + LineTime((babbleChunks_ + chunks) * kUsbPacketData);
  if (at > babbleUntil_) return std::nullopt;
  return at;
}

void SimInstrument::StopBabble(Clock::TimePoint now) {
  if (!babbling_) return;
  PumpBabble(now);
  babbling_ = false;
  babbleUntil_ = now;
  lineFreeAt_ = std::max(lineFreeAt_, now);
}

}  // namespace vxa::sim
