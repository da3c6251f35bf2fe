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

std::string ReportBoxText(const Report& report) {
  std::string text = report.text;
  for (const std::string* line : {&report.fault.text, &report.hint, &report.consequence}) {
    if (!line->empty()) text += "\n" + *line;
  }
  return text;
}

const char* StageCode(Stage stage) {
  switch (stage) {
    case Stage::kWriteRequest: return "write_request";
    case Stage::kFileTransfer: return "transfer";
    case Stage::kVerification: return "verification";
    case Stage::kFlashing: return "install";
    case Stage::kFileRead: break;
  }
  return "read";
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

std::string NewFirmwareText(const std::string& programVersion,
                            const std::optional<LocalDateTime>& clockSet) {
  std::string text = FormatText(VXA_MSG(msg::kNewProgramVersion), programVersion.c_str());
  if (!clockSet) return text;
  const LocalDateTime& at = *clockSet;
  const std::string when = FormatText("%04d-%02d-%02d %02d:%02d:%02d", at.year, at.month, at.day,
                                      at.hour, at.minute, at.second);
  return text + "\n" + FormatText(VXA_MSG(msg::kDeviceClockSet), when.c_str());
}

}  // namespace vxa
