#pragma once

#include "app/MessageBoxes.h"

namespace vxa::win32 {

// The real boxes, with the system's MessageBoxW. The system boxes have no owner and are
// task-modal; the application's own box belongs to the window (an HWND) and is modal to it.
class Win32MessageBoxes final : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override;
};

}  // namespace vxa::win32
