#include "app/win32/Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "base/WindowsText.h"
#include "text/Messages.h"

namespace vxa::win32 {
namespace {

// The designed face is a bitmap font without Cyrillic on many systems; "MS Shell Dlg" is the
// name Windows maps to its TrueType successor, which has it everywhere, at the same text height.
constexpr wchar_t kFaceName[] = L"MS Shell Dlg";
constexpr int kFontHeight = 11;
constexpr int kStateFontHeight = 13;

// Tab order: Find, Load, Exit, the bar (no tab stop, but in its place), the memo.
constexpr ControlId kTabOrder[] = {ControlId::kFindButton, ControlId::kLoadButton,
                                   ControlId::kCloseButton, ControlId::kLoadProgressBar,
                                   ControlId::kMemo1};

// The two labels that hug their texts were drawn this wide by the designed face. A stand-in that
// is wider is narrowed until their texts fit again, so that the whole window keeps one face.
struct HuggedText {
  int stringTableText;
  int width;
};
constexpr HuggedText kHuggedTexts[] = {{str::kLabelDevice, 38}, {str::kLabelSoftware, 191}};
constexpr int kNarrowestStretch = 75;  // per cent of the face's own width

// `stretch` in per cent of the face's average character width; 100 is the face as it is.
HFONT MakeFont(HDC dc, int height, bool bold, int stretch) {
  LOGFONTW font{};
  font.lfHeight = -height;
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  wcscpy_s(font.lfFaceName, kFaceName);
  HFONT made = ::CreateFontIndirectW(&font);
  if (stretch >= 100) return made;
  TEXTMETRICW metrics{};
  const HGDIOBJ old = ::SelectObject(dc, made);
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::DeleteObject(made);
  font.lfWidth = std::max<LONG>(1, metrics.tmAveCharWidth * stretch / 100);
  return ::CreateFontIndirectW(&font);
}

int TextWidth(HDC dc, HFONT font, const std::wstring& text) {
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  return extent.cx;
}

struct WindowClass {
  const wchar_t* name;
  DWORD style;
  DWORD exStyle;
};

WindowClass ClassOf(ControlKind kind) {
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kBoldLabel:
    case ControlKind::kStateLabel:
      return {L"STATIC", kChild | SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::kButton:
      // No default button: Enter must never start an update.
      return {L"BUTTON", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::kProgressBar:
      return {PROGRESS_CLASSW, WS_CHILD, 0};
    case ControlKind::kMemo:
      return {L"EDIT", kChild | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
              WS_EX_CLIENTEDGE};
  }
  return {L"STATIC", kChild, 0};
}

size_t IndexOf(ControlId id) {
  return static_cast<size_t>(static_cast<int>(id) - static_cast<int>(ControlId::kLoadLabel));
}

}  // namespace

Controls::~Controls() {
  for (HFONT font : {font_, bold_, stateFont_}) {
    if (font != nullptr) ::DeleteObject(font);
  }
}

void Controls::Create(HWND parent, HINSTANCE instance) {
  HDC screen = ::GetDC(nullptr);
  dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
  if (dpi_ <= 0) dpi_ = kDesignDpi;
  MakeFonts(screen);
  ::ReleaseDC(nullptr, screen);
  ::SendMessageW(parent, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  for (const Placement& placement : kLayout) {
    handles_[IndexOf(placement.id)] = CreateOne(parent, instance, placement);
  }
  HWND previous = HWND_TOP;
  for (ControlId id : kTabOrder) {
    ::SetWindowPos(Get(id), previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = Get(id);
  }
}

void Controls::MakeFonts(HDC dc) {
  const auto fits = [&](HFONT font) {
    return std::all_of(
        std::begin(kHuggedTexts), std::end(kHuggedTexts), [&](const HuggedText& hugged) {
          return TextWidth(dc, font, win::Widen(StringTableText(hugged.stringTableText))) <=
                 Scale(hugged.width);
        });
  };
  int stretch = 100;
  font_ = MakeFont(dc, Scale(kFontHeight), false, stretch);
  while (stretch > kNarrowestStretch && !fits(font_)) {
    ::DeleteObject(font_);
    font_ = MakeFont(dc, Scale(kFontHeight), false, --stretch);
  }
  bold_ = MakeFont(dc, Scale(kFontHeight), true, stretch);
  stateFont_ = MakeFont(dc, Scale(kStateFontHeight), true, stretch);
}

HWND Controls::CreateOne(HWND parent, HINSTANCE instance, const Placement& placement) {
  const WindowClass windowClass = ClassOf(placement.kind);
  HWND control = ::CreateWindowExW(
      windowClass.exStyle, windowClass.name, L"", windowClass.style, Scale(placement.left),
      Scale(placement.top), Scale(placement.width), Scale(placement.height), parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(placement.id)), instance, nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(placement.kind)), FALSE);
  return control;
}

HFONT Controls::FontOf(ControlKind kind) const {
  switch (kind) {
    case ControlKind::kBoldLabel:
      return bold_;
    case ControlKind::kStateLabel:
      return stateFont_;
    default:
      return font_;
  }
}

HWND Controls::Get(ControlId id) const {
  const size_t index = IndexOf(id);
  return index < handles_.size() ? handles_[index] : nullptr;
}

void Controls::FitToText(ControlId id) const {
  HWND control = Get(id);
  const std::wstring text = win::Widen(Text(control));
  int width = Scale(kLoadLabelEmptyWidth);
  if (!text.empty()) {
    HDC dc = ::GetDC(control);
    width = TextWidth(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), text);
    ::ReleaseDC(control, dc);
  }
  ::SetWindowPos(control, nullptr, 0, 0, width, Scale(kLabelHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Controls::SetText(HWND control, const std::string& utf8) {
  ::SetWindowTextW(control, win::Widen(utf8).c_str());
}

std::string Controls::Text(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return win::Narrow(text);
}

}  // namespace vxa::win32
