#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/Loader.h"
#include "text/Messages.h"
#include "app/window/Form1.h"
#include "link/Clock.h"
#include "sim/SimBus.h"
#include "tests/support/LoaderProbe.h"
#include "tests/window/WindowTestSupport.h"

namespace vxa::test {
namespace {

using std::chrono::milliseconds;

using FormTest = FormFixture;

struct Placed {
  const char* name;
  QRect geometry;
  QString text;
  bool enabled;
  bool hidden;
};

TEST_F(FormTest, EveryControlStartsAtItsPlaceWithItsTextAndState) {
  // A build that was switched to English before the window exists still opens in Russian.
  SetMessageLanguage(kLanguageEnglish);
  MakeForm();
  EXPECT_EQ(CurrentMessageLanguage(), kLanguageRussian);
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Загрузчик прибора VXA-4410"));

  std::vector<Placed> kLayout;
  for (const DesignedControl& c : DesignedLayout()) {
    kLayout.push_back({c.name, QRect(c.left, c.top, c.width, c.height), Utf8(c.text), c.enabled,
                       c.hidden});
  }
  form->show();
  for (const Placed& expected : kLayout) {
    auto* widget = Control<QWidget>(expected.name);
    if (widget == nullptr) continue;
    EXPECT_EQ(widget->geometry(), expected.geometry) << expected.name;
    EXPECT_EQ(widget->isEnabled(), expected.enabled) << expected.name;
    EXPECT_EQ(widget->isHidden(), expected.hidden) << expected.name;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
      text = memo->toPlainText();
      EXPECT_TRUE(memo->isReadOnly());
    }
    EXPECT_EQ(text, expected.text) << expected.name;
  }
  EXPECT_EQ(Utf8(StringTableText(16)), QString::fromUtf8("Версия 1.23.1 Русский язык"));

  auto* bar = Control<QProgressBar>("LoadProgressBar");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 4194304);
  EXPECT_EQ(bar->value(), 0);
  auto* timer = Control<QTimer>("LoadTimer");
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_FALSE(form->Terminating());
}

TEST_F(FormTest, WindowIsAFixedDialogWithOnlyTheSystemMenu) {
  MakeForm();
  EXPECT_EQ(form->size(), QSize(424, 168));
  EXPECT_EQ(form->minimumSize(), QSize(424, 168));
  EXPECT_EQ(form->maximumSize(), QSize(424, 168));
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));
}

TEST_F(FormTest, WindowShowsTheProgramsIcon) {
  MakeForm();
  // No icon theme of the test run knows it: this is the copy built into the program.
  EXPECT_FALSE(form->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(FormTest, FontsKeepTheDesignedTextHeightAndTheFixedLabelsHoldTheirTexts) {
  MakeForm();
  EXPECT_EQ(form->font().pixelSize(), 11);
  auto* state = Control<QLabel>("StateLabel");
  EXPECT_TRUE(state->font().bold());
  EXPECT_EQ(state->font().pixelSize(), 13);
  EXPECT_TRUE(Control<QLabel>("Label3")->font().bold());
  EXPECT_FALSE(Control<QLabel>("Label1")->font().bold());
  EXPECT_FALSE(Control<QLabel>("Label2")->font().bold());
  // The labels do not grow with their text: a face wider than the designed one would cut it.
  for (const char* name : {"Label1", "Label2", "Label3"}) {
    auto* label = Control<QLabel>(name);
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width()) << name;
  }
  for (int id : {msg::kStateWriteRequest, msg::kStateFileTransfer, msg::kStateVerification,
                 msg::kStateFlashing}) {
    EXPECT_LE(QFontMetrics(state->font()).horizontalAdvance(QString::fromUtf8(MessageText(id, 0))),
              state->width())
        << id;
  }
}

TEST_F(FormTest, TabOrderRunsFindLoadCloseProgressMemoAndTheBarTakesNoFocus) {
  MakeForm();
  const QStringList expected = {"FindButton", "LoadButton", "CloseButton", "LoadProgressBar",
                                "Memo1"};
  QStringList order;
  QWidget* widget = Control<QWidget>("FindButton");
  do {
    if (expected.contains(widget->objectName()) && !order.contains(widget->objectName())) {
      order << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != nullptr && order.size() < expected.size());
  EXPECT_EQ(order, expected);

  // What the user meets with the Tab key, Load enabled as after a search.
  form->DeviceFound({"a", "b", "c", "d"}, {});
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QStringList visited;
  for (int i = 0; i < 5; ++i) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited,
            QStringList({"FindButton", "LoadButton", "CloseButton", "Memo1", "FindButton"}));
}

TEST_F(FormTest, LoadLabelSizesItselfToItsText) {
  MakeForm();
  auto* label = Control<QLabel>("LoadLabel");
  form->ProgressChanged({1234567, 2433882});
  EXPECT_EQ(label->text(), QString::fromUtf8("(1234567 из 2433882)"));
  EXPECT_EQ(label->pos(), QPoint(222, 100));
  EXPECT_EQ(label->height(), 13);
  EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text()));
  form->StageChanged(Stage::kFlashing, MessageText(msg::kStateFlashing, 0));
  EXPECT_EQ(label->geometry(), QRect(222, 100, 3, 13));
}

TEST_F(FormTest, OnlyLogOnTheCommandLineTurnsTheLogOnAndItStaysOn) {
  MakeForm();
  form->ParseCommandLine("");
  form->ParseCommandLine("-time -LOG -logx \"-log\" a\t-log -sim");
  EXPECT_FALSE(form->loader().LogEnabled());
  form->ParseCommandLine("-sim  -log -time");
  EXPECT_TRUE(form->loader().LogEnabled());
  form->ParseCommandLine("-sim");
  EXPECT_TRUE(form->loader().LogEnabled());
  EXPECT_FALSE(form->loader().DumpEnabled());
}

TEST_F(FormTest, BoxesCarryTheirCaptionsIconsAndOwners) {
  MakeForm();
  form->ShowReport({ReportKind::kError, "e"});
  form->ShowReport({ReportKind::kWarning, "w"});
  form->ShowReport({ReportKind::kInformation, "i"});
  form->setWindowTitle(QStringLiteral("Another caption"));
  form->ShowReport({ReportKind::kNotAnswering, "a"});
  form->ShowReport({ReportKind::kStandardError, "s"});
  ASSERT_EQ(boxes.shown.size(), 5u);
  ExpectBox(boxes.shown[0], BoxSource::kSystem, BoxSymbol::kError, "Ошибка", "e");
  ExpectBox(boxes.shown[1], BoxSource::kSystem, BoxSymbol::kWarning, "Предупреждение", "w");
  ExpectBox(boxes.shown[2], BoxSource::kSystem, BoxSymbol::kInformation, "Информация", "i");
  ExpectBox(boxes.shown[3], BoxSource::kApplication, BoxSymbol::kWarning, "Another caption", "a");
  ExpectBox(boxes.shown[4], BoxSource::kStandardError, BoxSymbol::kError, "LoaderVXA4410", "s");
  for (size_t i : {0u, 1u, 2u, 4u}) EXPECT_EQ(boxes.shown[i].owner, nullptr) << i;
  EXPECT_EQ(boxes.shown[3].owner, form.get());
  for (const BoxRequest& box : boxes.shown) EXPECT_EQ(box.buttons, BoxButtons::kOk);

  boxes.answerYes = [](const BoxRequest&) { return false; };
  EXPECT_FALSE(form->AskYesNo("q", DefaultAnswer::kYes));
  EXPECT_EQ(boxes.shown.back().defaultAnswer, BoxAnswer::kYes);
  boxes.answerYes = [](const BoxRequest&) { return true; };
  EXPECT_TRUE(form->AskYesNo("q", DefaultAnswer::kNo));
  ExpectBox(boxes.shown.back(), BoxSource::kApplication, BoxSymbol::kQuestion, "Another caption",
            "q");
  EXPECT_EQ(boxes.shown.back().buttons, BoxButtons::kYesNo);
  EXPECT_EQ(boxes.shown.back().defaultAnswer, BoxAnswer::kNo);

  // What a failed update means for the instrument is the box's last line, after its message.
  form->ShowReport({ReportKind::kError, "e", ConnErrorKind::kOther, "where", "consequence"});
  EXPECT_EQ(boxes.shown.back().text, "e\nconsequence");
}

TEST_F(FormTest, MissingOrEmptyBootImageIsReportedAndTheProgramIsToldToEnd) {
  static const uint8_t kNoBytes[1] = {};
  const EmbeddedResource kWrongName[] = {{"OTHER", "LOADBIN", kNoBytes, 1}};
  const EmbeddedResource kEmpty[] = {{"VXA4410", "LOADBIN", kNoBytes, 0}};
  struct Case {
    std::span<const EmbeddedResource> table;
    int message;
  } cases[] = {{{}, msg::kImageNotFound},
               {kWrongName, msg::kImageNotFound},
               {kEmpty, msg::kImageSizeUnknown}};
  for (const Case& c : cases) {
    boxes.shown.clear();
    MakeForm(c.table);
    ASSERT_EQ(boxes.shown.size(), 1u) << c.message;
    ExpectBox(boxes.shown[0], BoxSource::kSystem, BoxSymbol::kError, "Ошибка",
              MessageText(c.message, 0));
    EXPECT_TRUE(form->Terminating());
    // The window is still made whole.
    EXPECT_EQ(form->windowTitle(), Utf8(MessageText(msg::kWindowCaption, 0)));
    EXPECT_EQ(LoaderProbe::BootImage(form->loader()), nullptr);
  }
}

TEST_F(FormTest, ClosingWithoutAConnectionAsksNothingAndEscapeDoesNotClose) {
  MakeForm();
  form->show();
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_TRUE(form->isVisible());
  Control<QPushButton>("CloseButton")->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(boxes.shown.empty());
}

// Waiting for the traffic thread: the wait ends when it is woken, from whatever thread, also when
// the wake-up came first, and when the program is told to end. A watchdog inside the wait
// tells a wait that ran its full length from one that was cut short.
class FormWaitTest : public FormTest {
 protected:
  void SetUp() override {
    MakeForm();
    QTimer::singleShot(kWatchdog, form.get(), [this] { watchdogFired = true; });
  }

  static constexpr milliseconds kWatchdog{20000};
  static constexpr milliseconds kLongWait{60000};
  bool watchdogFired = false;
};

TEST_F(FormWaitTest, WakeFromAnotherThreadEndsTheWaitWhileEventsAreHandled) {
  bool handled = false;
  std::thread waker;
  QTimer::singleShot(0, [&] {
    handled = true;
    waker = std::thread([this] { form->Wake(); });
  });
  form->ProcessEvents(kLongWait);
  waker.join();
  EXPECT_TRUE(handled);
  EXPECT_FALSE(watchdogFired);
}

TEST_F(FormWaitTest, WakeBeforeTheWaitIsNotLost) {
  std::thread([this] { form->Wake(); }).join();
  form->ProcessEvents(kLongWait);
  EXPECT_FALSE(watchdogFired);
}

TEST_F(FormWaitTest, TerminateEndsTheWait) {
  QTimer::singleShot(0, [this] { form->Terminate(); });
  form->ProcessEvents(kLongWait);
  EXPECT_TRUE(form->Terminating());
  EXPECT_FALSE(watchdogFired);
}

TEST_F(FormWaitTest, ZeroWaitHandlesWhatIsPending) {
  bool handled = false;
  QTimer::singleShot(0, [&] { handled = true; });
  form->ProcessEvents(milliseconds(0));
  EXPECT_TRUE(handled);
  EXPECT_FALSE(watchdogFired);
}

}  // namespace
}  // namespace vxa::test
