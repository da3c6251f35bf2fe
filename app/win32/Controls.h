#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

namespace vxa::win32 {

// The window's controls, in their order of creation; each is its own child-window id.
enum class ControlId : int {
  kLoadLabel = 100,
  kStateLabel,
  kLabel1,
  kLabel2,
  kLabel3,
  kLoadButton,
  kLoadProgressBar,
  kCloseButton,
  kMemo1,
  kFindButton,
};

enum class ControlKind { kLabel, kBoldLabel, kStateLabel, kButton, kProgressBar, kMemo };

// Where a control sits in the client area, in pixels at 96 dpi.
struct Placement {
  ControlId id;
  ControlKind kind;
  int left;
  int top;
  int width;
  int height;
};

// The window was drawn for "MS Sans Serif" 8 pt at 96 dpi: a client area of 424 by 168 at the
// designed screen position, and every control at its pixel.
inline constexpr int kClientWidth = 424;
inline constexpr int kClientHeight = 168;
inline constexpr int kDesignedLeft = 404;
inline constexpr int kDesignedTop = 432;
inline constexpr int kDesignDpi = 96;
inline constexpr int kProgressDesignMaximum = 4194304;
// A label that sizes itself to its text keeps this width while it has none.
inline constexpr int kLoadLabelEmptyWidth = 3;
inline constexpr int kLabelHeight = 13;

inline constexpr std::array<Placement, 10> kLayout = {{
    {ControlId::kLoadLabel, ControlKind::kLabel, 222, 100, kLoadLabelEmptyWidth, kLabelHeight},
    {ControlId::kStateLabel, ControlKind::kStateLabel, 224, 80, 192, 19},
    {ControlId::kLabel1, ControlKind::kLabel, 8, 8, 38, kLabelHeight},
    {ControlId::kLabel2, ControlKind::kLabel, 222, 8, 191, kLabelHeight},
    {ControlId::kLabel3, ControlKind::kBoldLabel, 222, 28, 192, 19},
    {ControlId::kLoadButton, ControlKind::kButton, 222, 49, 75, 25},
    {ControlId::kLoadProgressBar, ControlKind::kProgressBar, 222, 114, 194, 16},
    {ControlId::kCloseButton, ControlKind::kButton, 222, 136, 75, 25},
    {ControlId::kMemo1, ControlKind::kMemo, 8, 24, 208, 106},
    {ControlId::kFindButton, ControlKind::kButton, 8, 136, 75, 25},
}};

// The controls of one window and the fonts they are drawn with; both live as long as it.
class Controls {
 public:
  Controls() = default;
  ~Controls();
  Controls(const Controls&) = delete;
  Controls& operator=(const Controls&) = delete;

  // Creates every control of the layout in `parent`, scaled to the screen's dots per inch. The
  // labels get their texts later, in the catalogue's current language, which the fonts are made
  // to fit.
  void Create(HWND parent, HINSTANCE instance);
  HWND Get(ControlId id) const;
  // Design pixels at the screen's dots per inch.
  int Scale(int pixels) const { return MulDiv(pixels, dpi_, kDesignDpi); }
  int Dpi() const { return dpi_; }

  // Resizes a label to its text, as one that sizes itself does; the empty one keeps its width.
  void FitToText(ControlId id) const;

  static void SetText(HWND control, const std::string& utf8);
  static std::string Text(HWND control);

 private:
  HWND CreateOne(HWND parent, HINSTANCE instance, const Placement& placement);
  HFONT FontOf(ControlKind kind) const;
  void MakeFonts(HDC dc);

  std::array<HWND, kLayout.size()> handles_{};
  HFONT font_ = nullptr;
  HFONT bold_ = nullptr;
  HFONT stateFont_ = nullptr;
  int dpi_ = kDesignDpi;
};

}  // namespace vxa::win32
