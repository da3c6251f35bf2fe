#include <cstring>
#include <stdexcept>

#include "text/Messages.h"
#include "link/Errors.h"
#include "protocol/Connection.h"

namespace vxa {

int TVXA4410Connection::StartWrite(uint32_t fileKind, std::string& errorText) {
  errorText.clear();
  std::lock_guard lock(RxMutex);
  const int refused = CheckStart(fileKind, errorText, msg::kRestartCurrentTransaction,
                                 msg::kInvalidFileTypeToSend);
  if (refused != 0) return refused;
  if (bound_->GetSize() == 0) return 0;
  BeginTransfer();
  requestRetry_ = 1;
  EnterState(RxHandler::kWriteRequest, TxHandler::kIdle);
  BuildFileRequest(kCmdWriteRequest, fileKind);
  try {
    // Without a well-formed answer the request stays pending for the traffic thread to repeat;
    // the handler never looks at the fields of an earlier answer.
    if (Exchange(kWriteRequestDelayMs) == kRxOk) {
          rx_stt_WRQ();
    }
  } catch (const TVXA4410ConnError&) {
    GoIdle();  // the caller gets the failure; the connection must not stay half-started
    throw;
  }
  return bound_->GetSize();
}

void TVXA4410Connection::rx_stt_WRQ() {
  PacketHeader rx = RxHead();
  Log(logfmt::kWriteRequestAnswer, "rx_stt_WRQ", rx.Answer());
  switch (rx.Answer()) {
    case kAnsAck:
      if (rx.Length() != kBlockNumberSize) {
        Fail(VXA_MSG(msg::kInvalidPacketLength));
      } else if (GetU32(RxData()) != 0) {
        Fail(VXA_MSG(msg::kTransferFromNonZeroBlock));
      } else {
        EnterState(RxHandler::kWrite, TxHandler::kWrite);
        blockNumber_ = 1;
        requestRetry_ = 1;
      }
      break;
    case kAnsRefusal:
      Fail(RefusalText(), ConnErrorKind::kRefused);
      break;
    default: {
      const int32_t tolerated = requestRetry_++;
      if (tolerated > kRequestRetryLimit) Fail(InvalidCodeText(rx.Answer()));
      break;
    }
  }
}

void TVXA4410Connection::tx_stt_Write() {
  NoteBlockBuilt();
  uint8_t* payload = TxPayload();
  PutU32(payload, blockNumber_);
  const int n = bound_->Peek(payload + kBlockNumberSize, static_cast<int>(kWriteBlockData));
  lastBlockData_ = n > 0 ? static_cast<uint32_t>(n) : 0;
  lastPayloadLength_ = lastBlockData_ + kBlockNumberSize;
  PrepareCommand(kCmdWriteBlock, lastPayloadLength_);
  Log(logfmt::kWriteBlock, "tx_stt_Write", kCmdWriteBlock, static_cast<int32_t>(blockNumber_),
      static_cast<int32_t>(lastPayloadLength_));
}

void TVXA4410Connection::rx_stt_Write() {
  PacketHeader rx = RxHead();
  Log(logfmt::kWriteBlockAnswer, "rx_stt_Write", rx.Answer(), GetI32(RxData()));
  switch (rx.Answer()) {
    case kAnsAck: {
      if (rx.Length() != kBlockNumberSize) {
        Fail(VXA_MSG(msg::kInvalidPacketLength));
        return;
      }
      if (GetU32(RxData()) == blockNumber_) {
        blockNumber_ = NextBlockNumber(blockNumber_);
        bound_->SetPosition(bound_->GetPosition() + static_cast<int>(kWriteBlockData));
        AppendDump(TxPayload() + kBlockNumberSize, lastBlockData_);
      }
      if (lastBlockData_ == 0) {
        if (bound_->GetPosition() == bound_->GetSize()) {
          FinishTransfer();
        } else {
          Fail(VXA_MSG(msg::kEndOfFileTooEarly));
        }
      }
      break;
    }
    default:
      FailOnAnswer(rx.Answer());
      break;
  }
}

}  // namespace vxa
