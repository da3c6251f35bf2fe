#include <cstring>
#include <stdexcept>

#include "text/Messages.h"
#include "link/Errors.h"
#include "protocol/Connection.h"

namespace vxa {

int TVXA4410Connection::StartRead(uint32_t fileKind, std::string& errorText) {
  errorText.clear();
  std::lock_guard lock(RxMutex);
  const int refused = CheckStart(fileKind, errorText, msg::kRestartIncompleteTransaction,
                                 msg::kInvalidFileTypeToReceive);
  if (refused != 0) return refused;
  BeginTransfer();
  BuildFileRequest(kCmdReadRequest, fileKind);
  // The first block comes with the answer to the request, so a lost answer cannot be told from a
  // refused request by waiting for the traffic thread: ask again here, a few times.
  for (int attempt = 1; attempt <= kReadRequestAttempts; ++attempt) {
    Rearm();
    if (Exchange(0) == kRxOk) {
          rx_stt_RRQ();
      return 0;
    }
    if (attempt < kReadRequestAttempts) clock().SleepMs(kReadRequestRetryPauseMs);
  }
  Fail(VXA_MSG(msg::kCommunicationError), ConnErrorKind::kLink);
  return 0;
}

void TVXA4410Connection::LogVerifyMismatch(uint32_t offset, uint32_t compared) {
  std::lock_guard lock(RxMutex);
  Log(logfmt::kVerifyMismatch, offset, compared);
  // The update ends here: the line must reach the file even if the program goes down next.
  FlushLog();
}

bool TVXA4410Connection::HandToBuffer(const uint8_t* data, uint32_t length) {
  int taken = 0;
  try {
    taken = bound_->Write(data, static_cast<int>(length));
  } catch (const TBufferError& e) {
    DumpToLog(data, static_cast<int32_t>(length));
    Fail(e.Text());
    return false;
  }
  if (taken < static_cast<int>(length)) {
    Fail(VXA_MSG(msg::kInsufficientSpace));
    return false;
  }
  return true;
}

void TVXA4410Connection::rx_stt_RRQ() {
  PacketHeader rx = RxHead();
  Log(logfmt::kReadRequestAnswer, "rx_stt_RRQ", rx.Answer(), static_cast<int32_t>(rx.Length()));
  switch (rx.Answer()) {
    case kAnsData:
      if (rx.Length() < kBlockNumberSize) {
        Fail(VXA_MSG(msg::kInvalidPacketLength));
      } else if (GetU32(RxData()) != 1) {
        Fail(VXA_MSG(msg::kReceiveNotFromBlock1));
      } else {
        EnterState(RxHandler::kRead, TxHandler::kRead);
        blockNumber_ = 1;
        rx.SetLength(rx.Length() - kBlockNumberSize);
        HandToBuffer(RxData() + kBlockNumberSize, rx.Length());
      }
      break;
    default:
      FailOnAnswer(rx.Answer());
      break;
  }
}

void TVXA4410Connection::tx_state_Read() {
  NoteBlockBuilt();
  Log(logfmt::kReadAck, "tx_state_Read", kCmdReadAck, static_cast<int32_t>(kBlockNumberSize),
      static_cast<int32_t>(blockNumber_));
  PutU32(TxPayload(), blockNumber_);
  lastPayloadLength_ = kBlockNumberSize;
  PrepareCommand(kCmdReadAck, lastPayloadLength_);
  std::memset(RxBuffer.get(), 0, kPacketBufferSize);
}

void TVXA4410Connection::rx_stt_Read() {
  PacketHeader rx = RxHead();
  Log(logfmt::kReadBlockAnswer, "rx_stt_Read", rx.Answer(), static_cast<int32_t>(rx.Length()),
      GetI32(RxData()));
  switch (rx.Answer()) {
    case kAnsData: {
      if (rx.Length() < kBlockNumberSize) {
        Fail(VXA_MSG(msg::kInvalidPacketLength));
        return;
      }
      const uint32_t expected = NextBlockNumber(blockNumber_);
      // A block repeated or out of turn is passed over; the next step acknowledges the current
      // block again and the instrument sends what follows it.
      if (GetU32(RxData()) != expected) return;
      rx.SetLength(rx.Length() - kBlockNumberSize);
      if (rx.Length() == 0) {
        FinishTransfer();
        return;
      }
      if (HandToBuffer(RxData() + kBlockNumberSize, rx.Length())) blockNumber_ = expected;
      break;
    }
    default:
      FailOnAnswer(rx.Answer());
      break;
  }
}

}  // namespace vxa
