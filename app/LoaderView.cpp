#include "app/LoaderView.h"

#include "text/Messages.h"

namespace vxa {

ConnErrorKind CauseOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::kRefused:
      return ConnErrorKind::kRefused;
    case FailureKind::kLinkFailed:
    case FailureKind::kNotAnswering:
    case FailureKind::kNoDevice:
      return ConnErrorKind::kLink;
    default:
      return ConnErrorKind::kOther;
  }
}

std::string ProgressText(const Progress& progress) {
  std::string text = "(";
  text += std::to_string(progress.position);
  text += VXA_MSG(msg::kProgressFrom);
  text += std::to_string(progress.total);
  text += ')';
  return text;
}

std::string WaitedText(const Waited& waited) {
  const auto seconds = static_cast<int>(waited.waited.count());
  const auto limit = static_cast<int>(waited.limit.count());
  return FormatText(VXA_MSG(msg::kVersionWaitTime), seconds / 60, seconds % 60, limit / 60,
                    limit % 60);
}

}  // namespace vxa
