#pragma once

#include "app/MessageBoxes.h"

namespace vxa {

// The real boxes, with QMessageBox, application-modal; the owner is a QWidget.
class QtMessageBoxes final : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override;
};

}  // namespace vxa
