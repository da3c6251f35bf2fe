#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Clock.h"
#include "link/FtDriver.h"
#include "sim/InstrumentModel.h"
#include "sim/LineToHost.h"
#include "sim/PlugSchedule.h"
#include "sim/SimTypes.h"

namespace vxa::sim {

class SimBus;
class SimDevice;

// One simulated instrument with its FTDI bridge, attached to a SimBus (which owns it). The bridge
// part models the queues and the line; the instrument itself is an InstrumentModel. Every method
// is thread-safe: tests may inject faults or read records while another thread drives a handle.
class SimInstrument final : private AnswerSink {
 public:
  struct Counters : ProtocolCounters {
    uint64_t controlRequests = 0;  // purge, reset, latency, ... (each costs time on the line)
    uint64_t purges = 0;
    uint64_t writes = 0;
    uint64_t reads = 0;
    uint64_t bytesHostToDevice = 0;
    uint64_t bytesDeviceToHost = 0;  // put on the line by the instrument, noise included
    uint64_t bytesReadByHost = 0;
    uint64_t overrunBytes = 0;  // lost because the receive queue was full
    uint64_t answersLostInBabble = 0;
    int openHandles = 0;
  };

  // Made only by SimBus.
  class PassKey {
    friend class SimBus;
    PassKey() = default;
  };
  SimInstrument(PassKey, Clock& clock, const LineTiming& timing, InstrumentConfig config,
                bool foreign);
  ~SimInstrument();
  SimInstrument(const SimInstrument&) = delete;
  SimInstrument& operator=(const SimInstrument&) = delete;

  // Faults. ClearFaults also stops a babbling line, ends a silence and forgets FailNextCall.
  void Inject(const FaultSpec& faultSpec);
  void ClearFaults();
  // The next `count` calls of that kind on this bridge return `status` and do nothing else.
  void FailNextCall(Call call, FtStatus status, int count = 1);
  // Every later call on its handle fails with kFtIoError (Close still releases the handle) and
  // the bridge leaves the listing.
  void Unplug();
  void SetCts(bool cts);
  // The next answers to leave are replaced, one each and in order, by these bytes as they are:
  // how a fuzzer puts arbitrary answers on the line while the instrument goes on as usual.
  void ReplaceAnswers(std::vector<std::vector<uint8_t>> answers);

  // What tests read.
  std::vector<CallRecord> Calls() const;
  void ClearCalls();  // also forgets the commands received
  std::vector<uint8_t> LastCommand() const;
  std::vector<std::vector<uint8_t>> Commands() const;
  std::vector<ReceivedBlock> WriteBlocks(std::string_view file) const;
  std::vector<uint8_t> FileContent(std::string_view file) const;
  // Only the instrument's own files (kernel, dev_info, dev_caliber, sensor0, sensor1, swap).
  // Setting "swap" gives the instrument an image it will install on a "kernel" request.
  void SetFileContent(std::string_view file, std::vector<uint8_t> bytes);
  std::array<uint16_t, kClockFields> ClockRecord() const;
  bool ClockSet() const;
  std::string ProgramVersionText() const;  // what GINF reports now, e.g. "1.22.0"
  bool Installed() const;                  // the kernel install has happened
  bool Installing() const;                 // the install is under way: nothing is answered
  int KernelRequests() const;              // write requests for "kernel" received
  Counters counters() const;
  const InstrumentConfig& config() const { return config_; }
  bool Unplugged() const;
  bool IsOpen() const;

 private:
  friend class SimBus;
  friend class SimDevice;

  // What FailNextCall set up for one kind of call.
  struct PendingFailure {
    FtStatus status = kFtOk;
    int count = 0;  // calls still to fail; -1: all of them

    // One more call of this kind: the status it fails with, if it does.
    std::optional<FtStatus> Take() {
      if (count == 0) return std::nullopt;
      if (count > 0) --count;
      return status;
    }
  };

  // For the bus, with the instrument's lock taken inside; `busNow` is the bus's time.
  const std::string& Description() const { return config_.description; }
  bool Listed(Clock::TimePoint busNow) const;
  bool TakeFailure(Call call, FtStatus* status);
  void Record(Call call, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0);
  bool TryOpen(Clock::TimePoint busNow, FtStatus* status);
  void SetPlugSchedule(PlugSchedule schedule);

  // The bridge's side of a handle (SimDevice forwards here).
  FtStatus ResetDevice();
  FtStatus SetLatencyTimer(uint8_t milliseconds);
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize);
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity);
  FtStatus GetModemStatus(uint32_t* modemStatus);
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff);
  FtStatus SetDivisor(uint16_t divisor);
  FtStatus Purge(uint32_t mask);
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written);
  // Ends early, with kFtAborted, once `aborted` is set (from another thread).
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read, const std::atomic<bool>& aborted);
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus);
  FtStatus Close(bool* released);
  void ReleaseHandle();

  // A control request: recorded, checked, applied under the lock, then paid for on the clock.
  template <typename Apply>
  FtStatus ControlRequest(Call call, uint32_t a, uint32_t b, uint32_t c, Apply apply);
  FtStatus Refusal(
      Call call);  // status for a call on an unplugged bridge or a failing one; 0 if fine
  // Whether the handle's bridge is gone: unplugged, or pulled on its schedule since it was
  // opened (a handle stays dead once its bridge was pulled, also when it is plugged in again).
  bool GoneLocked();

  // AnswerSink, called by the model with the lock held.
  void Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) override;
  void StartBabble(Clock::TimePoint from, Clock::TimePoint until) override;
  void Disconnect() override;

  std::optional<Clock::TimePoint> BabbleArrival(size_t count) const;

  Clock& clock_;
  const LineTiming timing_;
  const InstrumentConfig config_;
  const bool foreign_;  // another FTDI adapter: no instrument behind the bridge

  mutable std::mutex mutex_;
  std::unique_ptr<InstrumentModel> model_;  // null for a foreign adapter
  LineToHost toHost_;
  Counters line_;  // the bridge's own counters (the protocol and line parts are kept apart)
  std::vector<CallRecord> calls_;
  std::array<PendingFailure, kCallCount> failures_{};

  bool open_ = false;
  bool unplugged_ = false;
  PlugSchedule schedule_;
  bool pulled_ = false;  // on its schedule, while the handle was open
  Clock::TimePoint openedAt_{};
  bool cts_;
  uint16_t divisor_ = kFtDivisor1M5;
  uint32_t readTimeoutMs_ = 0;
  uint32_t writeTimeoutMs_ = 0;
  uint16_t flowControl_ = kFtFlowNone;

  std::deque<std::vector<uint8_t>> replacements_;
};

}  // namespace vxa::sim
