#include "app/window/MessageBoxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

#include "text/Messages.h"

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

BoxRequest SystemBox(BoxKind kind, const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kSystem;
  request.text = text;
  switch (kind) {
    case BoxKind::kError:
      request.symbol = BoxSymbol::kError;
      request.caption = VXA_MSG(msg::kCaptionError);
      break;
    case BoxKind::kWarning:
      request.symbol = BoxSymbol::kWarning;
      request.caption = VXA_MSG(msg::kCaptionWarning);
      break;
    case BoxKind::kInformation:
      request.symbol = BoxSymbol::kInformation;
      request.caption = VXA_MSG(msg::kCaptionInformation);
      break;
  }
  return request;
}

BoxRequest StandardErrorBox(const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kStandardError;
  request.symbol = BoxSymbol::kError;
  request.caption = QCoreApplication::applicationName().toStdString();
  request.text = text;
  return request;
}

BoxAnswer QtMessageBoxes::Show(const BoxRequest& request) {
  const bool yesNo = request.buttons == BoxButtons::kYesNo;
  QMessageBox box(IconOf(request.symbol), QString::fromUtf8(request.caption),
                  DisplayText(request.text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, request.owner);
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
