#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "app/window/MessageBoxes.h"
#include "tests/window/WindowTestSupport.h"

namespace vxa::test {
namespace {

// What a real box looked like on the screen, read while it waits for its answer.
struct Seen {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
  QWidget* parent = nullptr;
  Qt::WindowModality modality = Qt::NonModal;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows the request in a real box and presses `press` once it is up.
BoxAnswer ShowAndPress(const BoxRequest& request, QMessageBox::StandardButton press, Seen* seen) {
  QTimer::singleShot(0, [press, seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen->caption = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->parent = box->parentWidget();
    seen->modality = box->windowModality();
    seen->format = box->textFormat();
    seen->buttons = box->standardButtons();
    if (QPushButton* button = box->defaultButton()) {
      seen->defaultButton = box->standardButton(button);
    }
    if (QAbstractButton* button = box->button(press)) button->click();
  });
  return QtMessageBoxes().Show(request);
}

TEST(QtMessageBoxesTest, SystemBoxShowsCaptionTextAndIconWithOneOkAndNoOwner) {
  Seen seen;
  const BoxAnswer answer =
      ShowAndPress(SystemBox(BoxKind::kWarning, MessageText(msg::kNoDeviceConnected, 0)),
                   QMessageBox::Ok, &seen);
  EXPECT_EQ(answer, BoxAnswer::kOk);
  EXPECT_EQ(seen.caption, QString::fromUtf8("Предупреждение"));
  // The catalogue's CR LF breaks become plain line breaks; the tab stays.
  EXPECT_EQ(seen.text, QString::fromUtf8("\tНе найдено подключенных устройств.\nПроверьте "
                                         "соединительные кабели USB и повторите попытку."));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
  EXPECT_EQ(seen.parent, nullptr);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
}

TEST(QtMessageBoxesTest, QuestionIsOwnedByTheWindowAndOnlyYesIsYes) {
  QWidget window;
  BoxRequest request;
  request.source = BoxSource::kApplication;
  request.symbol = BoxSymbol::kQuestion;
  request.buttons = BoxButtons::kYesNo;
  request.caption = "Caption";
  request.text = "<b>not markup</b>";
  request.owner = &window;
  Seen seen;
  EXPECT_EQ(ShowAndPress(request, QMessageBox::Yes, &seen), BoxAnswer::kYes);
  EXPECT_EQ(seen.parent, &window);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(seen.format, Qt::PlainText);
  EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
  request.defaultAnswer = BoxAnswer::kNo;
  EXPECT_EQ(ShowAndPress(request, QMessageBox::No, &seen), BoxAnswer::kNo);
  EXPECT_EQ(seen.defaultButton, QMessageBox::No);
}

}  // namespace
}  // namespace vxa::test
