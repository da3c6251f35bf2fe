#include "app/window/Application.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

namespace vxa {

void ConfigureApplication(QApplication& application, MessageLanguage language) {
  application.setApplicationName(QString::fromUtf8(kApplicationTitle));
  // The icon the desktop's menu shows for the installed program, from the icon theme; a program
  // run from its build folder has its own copy built in.
  application.setWindowIcon(QIcon::fromTheme(QStringLiteral("vxa4410-loader"),
                                             QIcon(QStringLiteral(":/icons/vxa4410-loader.svg"))));
  // The buttons Qt names itself ("Да"/"Нет" in the boxes) speak the program's language, whatever
  // the machine's locale. Qt's own words are English; without the translations installed they
  // stay so.
  if (language != kLanguageRussian) return;
  auto* translator = new QTranslator(&application);
  if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(translator);
  }
}

}  // namespace vxa
