#include <string>

#include "app/Loader.h"
#include "text/Messages.h"

namespace vxa {

Loader::Ending Loader::Read(uint32_t fileKind) {
  TVXA4410Connection* current = Current();
  if (current == nullptr || current->BoundBuffer() == nullptr || updateRunning_) {
    return Plain(Outcome::kNone);
  }
  // An unknown kind is refused by the connection below; its stage still needs a name.
  const char* name = fileKind < kFileKindCount ? kFileKindNames[fileKind] : "?";
  view_.StageChanged(Stage::kFileRead, FormatText(VXA_MSG(msg::kStateFileRead), name));
  // Whatever ends the read early, no exchange follows it: the thread is stopped before the
  // caller decides what to do with what arrived.
  InstrumentSession::Start start;
  std::optional<Failure> failure = session_->StartRead(fileKind, &start);
  if (!failure && start.result < 0) {
    failure = Failure{FailureKind::kProtocolError,
                      FormatText(VXA_MSG(msg::kOpenFileFailed), start.reason.c_str())};
  }
  if (!failure) {
    session_->Resume();
    failure = WaitForTransfer();
    if (failure && failure->text.empty()) return {Outcome(Outcome::kFailed, std::move(failure))};
  }
  if (failure) return {Outcome(Outcome::kFailed, std::move(failure)), ReportKind::kError};
  return Plain(Outcome::kFileRead);
}

}  // namespace vxa
