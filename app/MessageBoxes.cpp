#include "app/MessageBoxes.h"

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

}  // namespace vxa
