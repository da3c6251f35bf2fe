#include "app/win32/MessageBoxesWin32.h"

#include <windows.h>

#include "base/WindowsText.h"

namespace vxa::win32 {
namespace {

UINT IconOf(BoxSymbol symbol) {
  switch (symbol) {
    case BoxSymbol::kError:
      return MB_ICONERROR;
    case BoxSymbol::kWarning:
      return MB_ICONWARNING;
    case BoxSymbol::kInformation:
      return MB_ICONINFORMATION;
    case BoxSymbol::kQuestion:
      return MB_ICONQUESTION;
  }
  return 0;
}

}  // namespace

BoxAnswer Win32MessageBoxes::Show(const BoxRequest& request) {
  const bool yesNo = request.buttons == BoxButtons::kYesNo;
  UINT flags = IconOf(request.symbol) | (yesNo ? MB_YESNO : MB_OK);
  if (yesNo && request.defaultAnswer == BoxAnswer::kNo) flags |= MB_DEFBUTTON2;
  HWND owner = static_cast<HWND>(request.owner);
  flags |= owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL | MB_SETFOREGROUND;
  // The catalogue's texts break lines with LF or CR LF; the box takes both.
  const int result = ::MessageBoxW(owner, win::Widen(request.text).c_str(),
                                   win::Widen(request.caption).c_str(), flags);
  if (!yesNo) return BoxAnswer::kOk;
  // Closing a Yes/No box any other way is not a Yes.
  return result == IDYES ? BoxAnswer::kYes : BoxAnswer::kNo;
}

}  // namespace vxa::win32
