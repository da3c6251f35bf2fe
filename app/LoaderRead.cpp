#include <string>

#include "app/Loader.h"
#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {

bool Loader::ReadFile(uint32_t fileKind) {
  TVXA4410Connection* current = Current();
  if (current == nullptr || current->BoundBuffer() == nullptr || TrafficThread == nullptr ||
      updateRunning_) {
    return false;
  }
  outcome_ = Outcome::kFailed;
  std::string errorText;
  // Whatever ends the read early, no exchange follows it: the thread is stopped before the
  // caller decides what to do with what arrived.
  auto stop = [this] {
    TrafficThread->Stop();
    if (interrupted_) outcome_ = Outcome::kInterrupted;
    return false;
  };
  try {
    if (current->StartRead(fileKind, errorText) < 0) {
      view_.ShowMessageBox(BoxKind::kError,
                           FormatText(VXA_MSG(msg::kOpenFileFailed), errorText.c_str()));
      return stop();
    }
    TrafficThread->Resume();
    if (!WaitForTransfer()) return stop();
  } catch (const TVXA4410ConnError& e) {
    view_.ShowMessageBox(BoxKind::kError, e.Text());
    return stop();
  }
  outcome_ = Outcome::kFileRead;
  return true;
}

}  // namespace vxa
