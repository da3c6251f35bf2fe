#pragma once

#include <string>

#include "app/LoaderView.h"

namespace vxa {

// The title the standard error display is captioned with.
inline constexpr char kApplicationTitle[] = "LoaderVXA4410";

// The system message boxes: no owner, captioned with catalogue message 0, 1 or 2.
enum class BoxKind { kError, kWarning, kInformation };

// Who shows a box; it decides the caption and whether the window owns the box.
enum class BoxSource {
  kSystem,         // error, warning and information boxes: no owner, caption message 0, 1 or 2
  kApplication,    // the application's own box: owned by the window, captioned with its caption
  kStandardError,  // where an escaped error ends up: no owner, captioned with the application title
};

enum class BoxSymbol { kError, kWarning, kInformation, kQuestion };
enum class BoxButtons { kOk, kYesNo };
enum class BoxAnswer { kOk, kYes, kNo };

struct BoxRequest {
  BoxSource source = BoxSource::kSystem;
  BoxSymbol symbol = BoxSymbol::kError;
  BoxButtons buttons = BoxButtons::kOk;
  std::string caption;  // UTF-8
  std::string text;     // UTF-8, byte for byte as the catalogue has it
  // The window that owns the box, as its toolkit knows it (a QWidget, an HWND); null for none.
  void* owner = nullptr;
  // What Enter chooses in a Yes/No box.
  BoxAnswer defaultAnswer = BoxAnswer::kYes;
};

// Every box a window shows goes through here, so that tests can read and answer them. Each
// toolkit has its own real boxes behind it.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Returns once the user has answered.
  virtual BoxAnswer Show(const BoxRequest& request) = 0;
};

// An error, warning or information box, captioned in the current catalogue language.
BoxRequest SystemBox(BoxKind kind, const std::string& text);
// The standard error display: an error box captioned with the application's title.
BoxRequest StandardErrorBox(const std::string& text);

// The box a window shows for a report. It keeps the report's message as it is, with the cause
// and the hint under it and what a failure means for the instrument as its last line; the success box says first what the
// instrument now reports (`newFirmware`, taken only by that box). `ownBox` is the window's own
// box, shown for the instrument that does not answer.
BoxRequest ReportBox(const Report& report, std::string* newFirmware, BoxRequest ownBox);

}  // namespace vxa
