#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "link/Errors.h"
#include "link/InstrumentProtocol.h"
#include "link/UsbChannel.h"
#include "protocol/TransBuffer.h"

namespace vxa {

inline constexpr uint32_t kWriteRequestDelayMs = 200;
inline constexpr int kRequestRetryLimit = 10;  // unrecognised answers tolerated to a write request
inline constexpr int kQueryAttempts = 3;
inline constexpr uint32_t kQueryRetryPauseMs = 100;
inline constexpr uint32_t kClockRetryPauseMs = 1000;
inline constexpr int kReadRequestAttempts = 3;
inline constexpr uint32_t kReadRequestRetryPauseMs = 100;
// A transfer whose position and state have not moved for this long is given up, however the
// instrument answers meanwhile: one that keeps acknowledging the wrong block or sending the same
// read block would otherwise be served for ever.
inline constexpr Clock::Duration kNoProgressLimit = std::chrono::seconds(30);
// Until it accepts a write request, an instrument may be preparing its storage: that stage has
// this long instead.
inline constexpr Clock::Duration kRequestAcceptLimit = std::chrono::minutes(2);

// The program's end of the conversation with one instrument: the USB channel, the protocol state
// machine of a file transfer, its outcome, and the records last read from the instrument.
//
// The GUI thread starts transfers and asks the instrument for its records; the traffic thread runs
// TrafficStep until the connection is idle again. Every exchange and every handler runs under
// RxMutex. Read without it: the state (IsIdle), the done and error flags, and the bound buffer's
// position, which is why they are atomics.
class TVXA4410Connection final : public TUsbChannel {
 public:
  TVXA4410Connection(FtDriver& driver, Clock& clock, int deviceIndex = 0);
  ~TVXA4410Connection();

  int DeviceIndex() const { return deviceIndex_; }

  // The buffer every transfer of this connection reads from or writes to. Once only.
  void Bind(TBasicTransBuffer* buffer);
  TBasicTransBuffer* BoundBuffer() const { return bound_; }

  bool IsIdle() const { return rxHandler_.load() == RxHandler::kIdle; }
  // Counts the transfers started, so that the traffic thread serves only the one it was woken
  // for and never carries on a start that is meant to stop at its request (the install).
  uint64_t TransferNumber() const { return transferNumber_.load(); }
  bool Done() const { return done_.load(); }
  bool Failed() const { return error_.load(); }
  // Raises the last transfer's failure, if any, on the calling thread. The flag stays set until
  // the next start.
  void CheckError();

  // Called (under the lock, from whichever thread ends it) when a transfer completes or fails.
  // It must not call back into the connection.
  void SetOutcomeListener(std::function<void()> listener);

  // One step of a running transfer: build the next packet, exchange it, digest the answer.
  int TrafficStep();

  // Write transfer: the request and its answer; the traffic thread carries the blocks. Negative
  // results are refusals with the reason in `errorText`; 0 means an empty buffer, nothing sent.
  int StartWrite(uint32_t fileKind, std::string& errorText);
  // Read transfer: the request and the first block; the traffic thread acknowledges the rest.
  int StartRead(uint32_t fileKind, std::string& errorText);
  // After a read that failed its comparison: where the first byte differs and how many bytes had
  // been compared, as one line of the log.
  void LogVerifyMismatch(uint32_t offset, uint32_t compared);

  void QueryDeviceInfo();
  void QueryGinf();
  // Sends the computer's local time to the instrument. True when the instrument took it, with
  // the time it was given in `sent`; an instrument that keeps its old time is no failure.
  bool SetDeviceClock(LocalDateTime* sent = nullptr);

  std::string ModelText() const;
  std::string SerialNumberText() const;
  std::string DeviceVersionText() const;
  std::string ProgramVersionText() const;

  uint32_t BlockNumber() const { return blockNumber_; }
  // How many blocks (written, or acknowledged while reading) went out again after a bad or
  // missing answer, over every transfer of this connection. From any thread.
  uint32_t BlocksResent() const { return blocksResent_.load(); }

 private:
  enum class RxHandler : uint8_t { kIdle, kWriteRequest, kWrite, kRead };
  enum class TxHandler : uint8_t { kIdle, kWrite, kRead };

  void GoIdle();
  void Fail(const std::string& text, ConnErrorKind kind = ConnErrorKind::kOther,
            BridgeFault fault = {});
  void FinishTransfer();
  void EnterState(RxHandler rx, TxHandler tx);

  void RunTransmitHandler();
  void RunReceiveHandler();
  void tx_stt_Idle();
  void rx_stt_Idle() {}
  void rx_stt_WRQ();
  void tx_stt_Write();
  void rx_stt_Write();
  void rx_stt_RRQ();
  void tx_state_Read();
  void rx_stt_Read();

  // Refusals common to both starts: -1 busy, -3 unknown kind, with the reason in `errorText`.
  int CheckStart(uint32_t fileKind, std::string& errorText, int32_t busyText, int32_t kindText);
  // A new transfer: position at the start, outcome cleared, a new number for the traffic thread.
  void BeginTransfer();
  void BuildFileRequest(uint8_t code, uint32_t fileKind);
  // Counts a block built again with the number of the one built last.
  void NoteBlockBuilt();
  void Rearm();
  bool HandToBuffer(const uint8_t* data, uint32_t length);
  std::string RefusalText() const;
  std::string InvalidCodeText(uint8_t answer) const;
  // An answer that is not the one expected: the instrument's own refusal text, or the code.
  void FailOnAnswer(uint8_t answer);
  // Notes the time whenever the position or the state has moved since the last look, and fails
  // the transfer once they have stood still for longer than its stage allows.
  void CheckProgress();
  void MarkProgress();
  // Asks for one of the instrument's records; throws when it does not come whole.
  void Query(uint8_t code, const char* text, size_t expected, uint8_t* record, bool& valid);

  const int deviceIndex_;
  std::atomic<bool> done_{false};
  std::atomic<bool> error_{false};
  std::atomic<uint64_t> transferNumber_{0};
  std::string errorText_;
  ConnErrorKind errorKind_ = ConnErrorKind::kOther;
  BridgeFault errorFault_;
  TBasicTransBuffer* bound_ = nullptr;
  std::atomic<RxHandler> rxHandler_{RxHandler::kIdle};
  TxHandler txHandler_ = TxHandler::kIdle;
  uint32_t blockNumber_ = 0;
  int32_t requestRetry_ = 0;
  // Payload length of the last command built, so that a repeat can send the same bytes again
  // after SendPacket has grown Length and TxLength in place.
  uint32_t lastPayloadLength_ = 0;
  uint32_t lastBlockData_ = 0;
  int64_t lastBuiltBlock_ = -1;  // of the running transfer; -1 before its first block
  std::atomic<uint32_t> blocksResent_{0};
  Clock::TimePoint lastProgressAt_{};
  int progressPosition_ = 0;
  RxHandler progressState_ = RxHandler::kIdle;
  std::function<void()> outcomeListener_;

  bool deviceInfoValid_ = false;
  std::array<uint8_t, kDeviceInfoSize> deviceInfo_{};
  bool ginfValid_ = false;
  std::array<uint8_t, kGinfSize> ginf_{};
};

}  // namespace vxa
