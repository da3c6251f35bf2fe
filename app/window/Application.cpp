#include "app/window/Application.h"

#include <QApplication>
#include <QString>

namespace vxa {

void ConfigureApplication(QApplication& application) {
  application.setApplicationName(QString::fromUtf8(kApplicationTitle));
}

}  // namespace vxa
