#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "link/Clock.h"
#include "link/Diagnostics.h"
#include "link/FtDriver.h"
#include "link/Packet.h"

namespace vxa {

inline constexpr char kDeviceDescription[] = "VXA-4410 Vibration Analyzer";

// Result codes of ReceivePacket and Exchange. A bad or missing answer is no exception: the caller
// repeats the command or gives up.
enum : int32_t {
  kRxOk = 0,
  kRxNoHeader = -1,
  kRxBadStartMark = -2,
  kRxBadReserved = -3,
  kRxBadEndMark = -4,
  kRxWrongCode = -5,
  kRxTooLong = -6,
  kRxShortBody = -7,
  kRxLengthTooSmall = -8,
  kRxBadCrc = -9,
};

// Timeouts and pauses of the link.
inline constexpr uint32_t kReadTimeoutMs = 1000;
inline constexpr uint32_t kWriteTimeoutMs = 1000;
inline constexpr uint32_t kBodyBytesPerExtraMs = 75;  // the body's read timeout grows 1 ms per 75 B
inline constexpr uint32_t kLatencyTimerMs = 2;
inline constexpr uint32_t kUsbTransferSize = 65536;
// The longest a full 32768-byte body may take to arrive (its read timeout): an answer announcing
// more is thrown away after at most this long, however large the length it claims.
inline constexpr uint32_t kMaxDiscardSleepMs =
    kMaxAnswerBody / kBodyBytesPerExtraMs + kReadTimeoutMs;  // 1436
inline constexpr uint32_t kDrainPauseMs = 1000;
// How long an abort may wait for a pause of the link to notice it.
inline constexpr uint32_t kAbortSliceMs = 100;
// A line that keeps sending is given up on after this long; the next send purges anyway.
inline constexpr Clock::Duration kDrainLimit = std::chrono::seconds(10);

// The program's end of the USB link to one instrument: the bridge, the two packet buffers and the
// lock that serialises every exchange. The protocol's connection object derives from it.
class TUsbChannel : public TDiagnosticFiles {
 public:
  TUsbChannel(FtDriver& driver, Clock& clock);
  ~TUsbChannel();
  TUsbChannel(const TUsbChannel&) = delete;
  TUsbChannel& operator=(const TUsbChannel&) = delete;

  // Opens and configures the bridge; throws TVXA4410ConnError with the failing step's text and
  // leaves nothing open behind. A second call on an open channel does nothing. The bridge is the
  // one of the instrument's description, or the one given among several of them.
  bool Open(const BridgeInfo* bridge = nullptr);

  // Completes the command in TxBuffer (marks, CRC) and transmits it.
  void SendPacket();
  int32_t ReceivePacket();
  // One command and its answer. Callers hold RxMutex.
  int32_t Exchange(uint32_t delayMs);

  bool IsOpened() const { return Opened; }
  // After an Open that failed: whether the driver found no such bridge at all, as opposed to one
  // that is there but could not be opened or set up (no permission, not a serial port, busy).
  bool BridgeMissing() const { return openStatus_ == kFtDeviceNotFound; }

  // From any thread: the exchange in flight ends at once (the driver's read in flight is aborted;
  // a drain or a pause of the link takes at most a slice more), and no command is sent after it.
  // For good: a channel is not used again once its user has given up on it.
  void Abort();
  bool Aborted() const { return aborted_.load(); }
  // Sleeps for `ms` in short slices, returning early once aborted.
  void PauseUnlessAborted(uint32_t ms);
  Clock& clock() const { return clock_; }

  // The command being built: Code, Length and payload are the caller's.
  PacketHeader TxPacket;
  uint8_t* TxPayload() const { return TxBuffer.get() + kHeaderSize; }
  // The header of the last answer as it arrived, and its body.
  PacketHeader RxHead() { return PacketHeader(RxHeader); }
  const uint8_t* RxData() const { return RxBuffer.get(); }

 protected:
  // Sets Code, Length and TxLength for a command whose payload is already in place.
  void PrepareCommand(uint8_t code, uint32_t payloadLength);

  bool Opened = false;
  std::unique_ptr<FtDevice> FtHandle;
  uint8_t RxHeader[kHeaderSize] = {};
  uint32_t TxLength = 0;
  std::unique_ptr<uint8_t[]> TxBuffer;
  std::unique_ptr<uint8_t[]> RxBuffer;
  // Serialises every exchange, protocol step and log write of this channel between the two
  // threads. Waits on it are unbounded: one step holds it for at most one exchange.
  mutable std::mutex RxMutex;

 private:
  [[noreturn]] void Fail(const char* text, BridgeFault fault);
  // A step of opening failed unless `status` is kFtOk: the bridge is closed again.
  void Check(FtStatus status, const char* text);
  // A driver call of an exchange failed: catalogue message `text` with the call's status.
  [[noreturn]] void FailLink(int32_t text, FtStatus status);
  // What the open bridge's backend says of its latest failure, or what `status` stands for.
  BridgeFault DeviceFault(FtStatus status) const;
  void CloseDevice();

  FtDriver& driver_;
  Clock& clock_;
  FtStatus openStatus_ = kFtOk;  // what the driver said to the latest request to open
  std::atomic<bool> aborted_{false};
  // Held while FtHandle is set or closed, and by Abort, which reaches it from another thread.
  std::mutex handleMutex_;
};

}  // namespace vxa
