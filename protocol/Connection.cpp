#include "protocol/Connection.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "text/Cp1251.h"
#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {

TVXA4410Connection::TVXA4410Connection(FtDriver& driver, Clock& clock, int deviceIndex)
    : TUsbChannel(driver, clock), deviceIndex_(deviceIndex) {}

TVXA4410Connection::~TVXA4410Connection() = default;

void TVXA4410Connection::Bind(TBasicTransBuffer* buffer) {
  if (bound_ != nullptr) throw TVXA4410ConnError("Connection already binded");
  bound_ = buffer;
}

void TVXA4410Connection::SetOutcomeListener(std::function<void()> listener) {
  std::lock_guard lock(RxMutex);
  outcomeListener_ = std::move(listener);
}

void TVXA4410Connection::CheckError() {
  // The flag is set under the lock but may be read without it: the waiting side must not queue
  // behind a whole block exchange on every pass just to learn that nothing went wrong.
  if (!error_.load()) return;
  std::string text;
  ConnErrorKind kind = ConnErrorKind::kOther;
  BridgeFault fault;
  {
    std::lock_guard lock(RxMutex);
    if (!error_.load()) return;
    text = errorText_;
    kind = errorKind_;
    fault = errorFault_;
  }
  throw TVXA4410ConnError(text, kind, std::move(fault));
}

void TVXA4410Connection::EnterState(RxHandler rx, TxHandler tx) {
  txHandler_ = tx;
  rxHandler_.store(rx);
}

void TVXA4410Connection::GoIdle() { EnterState(RxHandler::kIdle, TxHandler::kIdle); }

void TVXA4410Connection::Fail(const std::string& text, ConnErrorKind kind, BridgeFault fault) {
  errorText_ = text;
  errorKind_ = kind;
  errorFault_ = std::move(fault);
  GoIdle();
  error_.store(true);
  if (outcomeListener_) outcomeListener_();
}

void TVXA4410Connection::FinishTransfer() {
  GoIdle();
  done_.store(true);
  if (outcomeListener_) outcomeListener_();
}

int TVXA4410Connection::CheckStart(uint32_t fileKind, std::string& errorText, int32_t busyText,
                                   int32_t kindText) {
  if (!IsIdle()) {
    errorText = VXA_MSG(busyText);
    return -1;
  }
  if (fileKind >= kFileKindCount) {
    errorText = VXA_MSG(kindText);
    return -3;
  }
  if (bound_ == nullptr) throw std::logic_error("a transfer needs a bound buffer");
  return 0;
}

void TVXA4410Connection::BeginTransfer() {
  bound_->SetPosition(0);
  transferNumber_.fetch_add(1);
  done_.store(false);
  error_.store(false);
  lastBuiltBlock_ = -1;
  MarkProgress();
}

void TVXA4410Connection::NoteBlockBuilt() {
  if (lastBuiltBlock_ == static_cast<int64_t>(blockNumber_)) blocksResent_.fetch_add(1);
  lastBuiltBlock_ = blockNumber_;
}

void TVXA4410Connection::MarkProgress() {
  lastProgressAt_ = clock().Now();
  progressPosition_ = bound_->GetPosition();
  progressState_ = rxHandler_.load();
}

void TVXA4410Connection::CheckProgress() {
  const RxHandler state = rxHandler_.load();
  if (state == RxHandler::kIdle) return;
  if (bound_->GetPosition() != progressPosition_ || state != progressState_) {
    MarkProgress();
    return;
  }
  const Clock::Duration limit =
      state == RxHandler::kWriteRequest ? kRequestAcceptLimit : kNoProgressLimit;
  if (clock().Now() - lastProgressAt_ >= limit) {
    Fail(VXA_MSG(msg::kCommunicationError), ConnErrorKind::kLink);
  }
}

void TVXA4410Connection::Rearm() {
  TxPacket.SetLength(lastPayloadLength_);
  TxLength = lastPayloadLength_;
}

void TVXA4410Connection::BuildFileRequest(uint8_t code, uint32_t fileKind) {
  const char* name = kFileKindNames[fileKind];
  const size_t length = std::strlen(name) + 1;
  std::memcpy(TxPayload(), name, length);
  lastPayloadLength_ = static_cast<uint32_t>(length);
  PrepareCommand(code, lastPayloadLength_);
}

std::string TVXA4410Connection::RefusalText() const {
  // The instrument's text is meant to end with a NUL, but nothing past the answer's own data is
  // ever read: an answer without one must not take the rest of the buffer with it.
  const auto* data = reinterpret_cast<const char*>(RxData());
  const size_t length = GetU32(RxHeader + kOffLength);
  const size_t textLength = strnlen(data, length);
  // A refusal that gives no reason still must not leave the user an empty box.
  if (textLength == 0) return InvalidCodeText(kAnsRefusal);
  return Cp1251ToUtf8(std::string_view(data, textLength));
}

std::string TVXA4410Connection::InvalidCodeText(uint8_t answer) const {
  return FormatText(VXA_MSG(msg::kInvalidConfirmCode), answer);
}

void TVXA4410Connection::FailOnAnswer(uint8_t answer) {
  if (answer == kAnsRefusal) {
    Fail(RefusalText(), ConnErrorKind::kRefused);
  } else {
    Fail(InvalidCodeText(answer));
  }
}

void TVXA4410Connection::tx_stt_Idle() {
  // The write-request state sends its request again: same bytes, same length.
  Rearm();
}

void TVXA4410Connection::RunTransmitHandler() {
  switch (txHandler_) {
    case TxHandler::kIdle:
      tx_stt_Idle();
      break;
    case TxHandler::kWrite:
      tx_stt_Write();
      break;
    case TxHandler::kRead:
      tx_state_Read();
      break;
  }
}

void TVXA4410Connection::RunReceiveHandler() {
  switch (rxHandler_.load()) {
    case RxHandler::kIdle:
      rx_stt_Idle();
      break;
    case RxHandler::kWriteRequest:
      rx_stt_WRQ();
      break;
    case RxHandler::kWrite:
      rx_stt_Write();
      break;
    case RxHandler::kRead:
      rx_stt_Read();
      break;
  }
}

int TVXA4410Connection::TrafficStep() {
  std::lock_guard lock(RxMutex);
  // An idle connection has nothing to send: a step now would repeat whatever was built last.
  if (IsIdle()) return 0;
  // Nobody on this thread can show a failure: it is recorded for the waiting side, whatever it
  // is; one that escaped would end the whole program.
  try {
    RunTransmitHandler();
    if (Exchange(0) == kRxOk) RunReceiveHandler();
    CheckProgress();
  } catch (const TVXA4410ConnError& e) {
    Fail(e.Text(), e.Kind(), e.Fault());
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail(VXA_MSG(msg::kCommunicationError));
  }
  return 0;
}

}  // namespace vxa
