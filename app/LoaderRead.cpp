#include <string>

#include "app/Loader.h"
#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa {

Loader::Ending Loader::Read(uint32_t fileKind) {
  TVXA4410Connection* current = Current();
  if (current == nullptr || current->BoundBuffer() == nullptr || TrafficThread == nullptr ||
      updateRunning_) {
    return {};
  }
  // An unknown kind is refused by the connection below; its stage still needs a name.
  const char* name = fileKind < kFileKindCount ? kFileKindNames[fileKind] : "?";
  view_.StageChanged(Stage::kFileRead, FormatText(VXA_MSG(msg::kStateFileRead), name));
  // Whatever ends the read early, no exchange follows it: the thread is stopped before the
  // caller decides what to do with what arrived.
  std::string errorText;
  try {
    if (current->StartRead(fileKind, errorText) < 0) {
      const std::string text = FormatText(VXA_MSG(msg::kOpenFileFailed), errorText.c_str());
      return {Outcome::kFailed, Report{ReportKind::kError, text}, Then::kStopTraffic};
    }
    TrafficThread->Resume();
    if (!WaitForTransfer()) return {Outcome::kFailed, std::nullopt, Then::kStopTraffic};
  } catch (const TVXA4410ConnError& e) {
    return {Outcome::kFailed, Report{ReportKind::kError, e.Text(), e.Kind()}, Then::kStopTraffic};
  }
  return {Outcome::kFileRead};
}

}  // namespace vxa
