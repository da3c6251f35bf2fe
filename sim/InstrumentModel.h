#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/Clock.h"
#include "link/InstrumentProtocol.h"
#include "link/Packet.h"
#include "sim/CommandLog.h"
#include "sim/FaultPlan.h"
#include "sim/PacketReceiver.h"
#include "sim/SimTypes.h"

namespace vxa::sim {

// Where the instrument's output goes: the simulated bridge's receive queue, or a pseudo-terminal.
class AnswerSink {
 public:
  // One answer packet (possibly mangled by a fault), ready to leave at `readyAt`. The bytes are
  // valid only during the call.
  virtual void Transmit(std::span<const uint8_t> packet, Clock::TimePoint readyAt) = 0;
  // The line sends noise from `from` until `until` (TimePoint::max(): until the faults are
  // cleared); answers meanwhile are lost in it.
  virtual void StartBabble(Clock::TimePoint from, Clock::TimePoint until) = 0;
  // The instrument has gone from the bus.
  virtual void Disconnect() = 0;

 protected:
  ~AnswerSink() = default;
};

// The instrument behind the bridge: its receiver, its command handling and its files. It knows
// nothing of queues or line timing; bytes come in with the time they were received, answers go
// out through an AnswerSink with the time they are ready. Not thread-safe: the owner locks.
//
// InstrumentModel.cpp holds the commands, the records and the install; InstrumentTransfers.cpp
// the write and read transfers; InstrumentAnswers.cpp the answers as they leave, with the faults
// that mangle them.
class InstrumentModel {
 public:
  explicit InstrumentModel(InstrumentConfig config);

  // Bytes from the host, the last of them received at `now`. Complete commands are answered at
  // once through `sink`.
  void Receive(std::span<const uint8_t> bytes, Clock::TimePoint now, AnswerSink& sink);

  void Inject(const FaultSpec& faultSpec) { faults_.Add(faultSpec); }
  // Removes every fault and ends a silence. (A babbling line is the sink's to stop.)
  void ClearFaults();

  const InstrumentConfig& config() const { return config_; }
  const ProtocolCounters& counters() const { return counters_; }

  std::vector<uint8_t> LastCommand() const;
  std::vector<std::vector<uint8_t>> Commands() const;
  void ClearCommands();

  std::vector<ReceivedBlock> WriteBlocks(std::string_view file) const;
  std::vector<uint8_t> FileContent(std::string_view file) const;
  // Only the instrument's own files can be set; returns false for another name. Setting "swap"
  // makes it an image ready to install.
  bool SetFileContent(std::string_view file, std::vector<uint8_t> bytes);

  std::array<uint16_t, kClockFields> ClockRecord() const { return clockRecord_; }
  bool ClockSet() const { return clockSet_; }
  int KernelRequests() const { return kernelRequests_; }

  // These look at the time because an install finishes by itself.
  std::string ProgramVersionText(Clock::TimePoint now);
  bool Installed(Clock::TimePoint now);
  bool Installing(Clock::TimePoint now);

 private:
  struct WriteTransfer {
    bool started = false;  // a write request for an ordinary file was accepted
    int file = -1;
    uint32_t expected = 1;  // the number the next new block must carry
    uint32_t lastAcked = 0;
    bool complete = false;  // the empty block has been taken
  };
  struct ReadTransfer {
    bool started = false;
    uint32_t firstNumber = 1;
    uint64_t dataBlocks = 1;  // blocks carrying data (block 1 even for an empty file)
    uint64_t lastSent = 0;    // index (1-based) of the furthest block sent
  };

  // Filler for the parts of a record or a file the instrument makes up: the same every time.
  static uint8_t Filler(size_t i) { return static_cast<uint8_t>(i * 37 + 11); }

  void Advance(Clock::TimePoint now);
  void HandleCommand(std::span<const uint8_t> packet, Clock::TimePoint now, AnswerSink& sink);

  // Each builds the answer in answer_ and returns true, or returns false for no answer.
  bool Dispatch(uint8_t code, std::span<const uint8_t> payload, Clock::TimePoint now);
  bool DeviceInfo();
  bool TextCommand(std::span<const uint8_t> payload);
  bool WriteRequest(std::span<const uint8_t> payload, Clock::TimePoint now);
  bool WriteBlock(std::span<const uint8_t> payload);
  bool ReadRequest(std::span<const uint8_t> payload);
  bool ReadAck(std::span<const uint8_t> payload);
  bool SendReadBlock(uint64_t index);
  bool AcceptWriteRequest();
  size_t RecordSize(size_t normal);

  uint8_t* BeginAnswer(uint8_t answerCode, size_t payloadLength);
  bool Ack(uint32_t number);
  bool Refuse(const std::string& cp1251Text);
  bool RefuseWithFaultText(std::string_view faultText, const std::string& ownText);
  void Emit(Clock::TimePoint now, AnswerSink& sink);
  // Puts marks, echoed code, length and CRC around the answer built; returns its size.
  size_t Frame();
  // The answer faults on the framed answer's header, CRC and length; returns the bytes that go.
  size_t Mangle(size_t total);
  std::optional<FaultPlan::Fired> Offer(Fault fault);

  int FindFile(std::string_view name) const;

  InstrumentConfig config_;
  ProtocolCounters counters_;
  FaultPlan faults_;
  PacketReceiver receiver_{counters_};

  // The answer being built. The code of the command being answered decides which faults apply.
  std::vector<uint8_t> answer_;
  size_t answerPayload_ = 0;
  uint8_t commandCode_ = 0;
  // A stale answer held back, to leave ahead of the next one.
  std::vector<uint8_t> held_;

  // State.
  std::array<int32_t, 3> programVersion_;
  std::array<int32_t, 3> newProgramVersion_{};
  std::array<std::vector<uint8_t>, kFileKindCount> files_;
  std::array<std::vector<ReceivedBlock>, kFileKindCount> writeBlocks_;
  std::vector<uint8_t> pending_;   // data of the write in progress
  std::vector<uint8_t> readData_;  // what the read in progress sends (after read-back faults)
  WriteTransfer write_;
  ReadTransfer read_;
  bool swapComplete_ = false;
  bool installing_ = false;
  bool installed_ = false;
  bool installKeepsVersion_ = false;
  Clock::TimePoint installEnd_{};
  Clock::TimePoint silentUntil_{};
  bool silent_ = false;
  int kernelRequests_ = 0;
  std::array<uint16_t, kClockFields> clockRecord_{};
  bool clockSet_ = false;

  // Records fixed at construction; the version fields are filled in when sent.
  std::vector<uint8_t> deviceInfo_;
  std::vector<uint8_t> ginf_;

  // Refusal texts in Windows-1251, converted once.
  struct Texts {
    std::string unknownCommand, badLength, badName, unknownFile, noImage, noWrite, noRead,
        badBlockNumber, requestRefused, blockRefused, clockRefused;
  } texts_;

  CommandLog commands_;
};

}  // namespace vxa::sim
