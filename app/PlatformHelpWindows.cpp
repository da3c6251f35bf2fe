#include "app/PlatformHelp.h"

#include "text/Messages.h"

namespace vxa {

// A Windows user has COM ports, not /dev/ttyUSB0, and sets no locale variables; the language
// is chosen with --lang.
int32_t PlatformHelpText(int32_t id) {
  switch (id) {
    case msg::kHelpValuePath:
      return msg::kHelpValuePort;
    case msg::kHelpPort:
      return msg::kHelpPortWindows;
    case msg::kHelpLang:
      return msg::kHelpLangWindows;
    case msg::kDriverSerialNote:
      return msg::kDriverSerialNoteWindows;
    default:
      return id;
  }
}

}  // namespace vxa
