#include "app/window/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

namespace vxa {
namespace {

QMessageBox::Icon IconOf(BoxSymbol symbol) {
  switch (symbol) {
    case BoxSymbol::kError:
      return QMessageBox::Critical;
    case BoxSymbol::kWarning:
      return QMessageBox::Warning;
    case BoxSymbol::kInformation:
      return QMessageBox::Information;
    case BoxSymbol::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// The catalogue breaks lines the DOS way; a Qt label would draw the carriage return as a glyph.
QString DisplayText(const std::string& text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

}  // namespace

BoxAnswer QtMessageBoxes::Show(const BoxRequest& request) {
  const bool yesNo = request.buttons == BoxButtons::kYesNo;
  QMessageBox box(IconOf(request.symbol), QString::fromUtf8(request.caption),
                  DisplayText(request.text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                  static_cast<QWidget*>(request.owner));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (yesNo) {
    box.setDefaultButton(request.defaultAnswer == BoxAnswer::kNo ? QMessageBox::No
                                                                 : QMessageBox::Yes);
  }
  const int result = box.exec();
  if (!yesNo) return BoxAnswer::kOk;
  // Closing a Yes/No box any other way is not a Yes.
  return result == QMessageBox::Yes ? BoxAnswer::kYes : BoxAnswer::kNo;
}

}  // namespace vxa
