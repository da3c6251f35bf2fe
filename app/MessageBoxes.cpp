#include "app/MessageBoxes.h"

#include <utility>

#include "text/Messages.h"

namespace vxa {

BoxRequest SystemBox(BoxKind kind, const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kSystem;
  request.text = text;
  switch (kind) {
    case BoxKind::kError:
      request.symbol = BoxSymbol::kError;
      request.caption = VXA_MSG(msg::kCaptionError);
      break;
    case BoxKind::kWarning:
      request.symbol = BoxSymbol::kWarning;
      request.caption = VXA_MSG(msg::kCaptionWarning);
      break;
    case BoxKind::kInformation:
      request.symbol = BoxSymbol::kInformation;
      request.caption = VXA_MSG(msg::kCaptionInformation);
      break;
  }
  return request;
}

BoxRequest StandardErrorBox(const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kStandardError;
  request.symbol = BoxSymbol::kError;
  request.caption = kApplicationTitle;
  request.text = text;
  return request;
}

BoxRequest ReportBox(const Report& report, std::string* newFirmware, BoxRequest ownBox) {
  // The cause and the hint go under the message; the details of where a failure was found are
  // for the log and the terminal.
  std::string text = ReportBoxText(report);
  switch (report.kind) {
    case ReportKind::kError:
      return SystemBox(BoxKind::kError, text);
    case ReportKind::kWarning:
      return SystemBox(BoxKind::kWarning, text);
    case ReportKind::kInformation:
      if (!newFirmware->empty()) text = std::exchange(*newFirmware, {}) + "\n" + text;
      return SystemBox(BoxKind::kInformation, text);
    case ReportKind::kNotAnswering:
      ownBox.text = std::move(text);
      return ownBox;
    case ReportKind::kStandardError:
      break;
  }
  return StandardErrorBox(text);
}

}  // namespace vxa
