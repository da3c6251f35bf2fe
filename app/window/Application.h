#pragma once

class QApplication;

#include "app/MessageBoxes.h"
#include "text/Messages.h"

namespace vxa {

// What the program sets on its application object before the window exists. The application
// name is the title; the display name stays unset, or Qt would append it to the window caption.
void ConfigureApplication(QApplication& application, MessageLanguage language);

}  // namespace vxa
