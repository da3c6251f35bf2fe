#include <gtest/gtest.h>

#include <QLabel>
#include <QMap>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <optional>
#include <thread>

#include "app/Loader.h"
#include "text/Messages.h"
#include "link/InstrumentProtocol.h"
#include "link/Packet.h"
#include "protocol/Connection.h"
#include "tests/support/LoaderProbe.h"
#include "tests/window/WindowTestSupport.h"

namespace vxa::test {
namespace {

constexpr int kImageSize = 2433882;

// What the window showed while an update ran, taken at every change of the state and progress
// labels, so that texts replaced before any repaint are seen too.
struct Watched {
  QStringList states;
  QStringList progress;
  QMap<QString, QStringList> progressByState;
  int changes = 0;
  int changesWithAButtonEnabled = 0;
  int changesWithTheBarVisible = 0;
  int changesWithTheTimerOn = 0;
};

class FormUpdateTest : public FormFixture {
 protected:
  void SetUp() override {
    instrument = &bus.AttachInstrument();
    MakeForm();
    Control<QPushButton>("FindButton")->click();
    ASSERT_TRUE(Control<QPushButton>("LoadButton")->isEnabled());
    boxes.shown.clear();
    auto look = [this] {
      ++watched.changes;
      for (const char* name : {"FindButton", "LoadButton", "CloseButton"}) {
        if (Control<QPushButton>(name)->isEnabled()) ++watched.changesWithAButtonEnabled;
      }
      if (Control<QProgressBar>("LoadProgressBar")->isVisible()) {
        ++watched.changesWithTheBarVisible;
      }
      if (Control<QTimer>("LoadTimer")->isActive()) ++watched.changesWithTheTimerOn;
    };
    QObject::connect(form.get(), &TForm1::StateTextChanged, form.get(),
                     [this, look](const QString& text) {
                       watched.states << text;
                       look();
                       if (onState) onState(text);
                     });
    QObject::connect(form.get(), &TForm1::LoadLabelTextChanged, form.get(),
                     [this, look](const QString& text) {
                       watched.progress << text;
                       if (!watched.states.isEmpty()) {
                         watched.progressByState[watched.states.back()] << text;
                       }
                       look();
                     });
    form->show();
  }

  void Load() { Control<QPushButton>("LoadButton")->click(); }
  QString Label(const char* name) { return Control<QLabel>(name)->text(); }
  static QString Message(int id) { return QString::fromUtf8(MessageText(id, 0)); }

  sim::SimInstrument* instrument = nullptr;
  Watched watched;
  std::function<void(const QString&)> onState;
};

TEST_F(FormUpdateTest, WholeUpdateShowsEveryStageAndEndsWithTheSuccessBox) {
  Load();

  ASSERT_EQ(boxes.shown.size(), 2u);
  ExpectBox(boxes.shown[0], BoxSource::kApplication, BoxSymbol::kQuestion,
            MessageText(msg::kWindowCaption, 0), StringTableText(str::kConfirmLoad));
  EXPECT_EQ(boxes.shown[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(boxes.shown[0].owner, form.get());
  // Above the success message, what the instrument now reports and when its clock was set.
  ExpectBox(boxes.shown[1], BoxSource::kSystem, BoxSymbol::kInformation, "Информация",
            SuccessBoxText(*instrument));
  EXPECT_EQ(boxes.shown[1].text.rfind("Прибор сообщает версию программы 1.23.1\n"
                                      "Часы прибора установлены: 2026-01-01 00:",
                                      0),
            0u)
      << boxes.shown[1].text;
  EXPECT_EQ(boxes.shown[1].owner, nullptr);

  EXPECT_EQ(watched.states,
            QStringList({Message(msg::kStateWriteRequest), Message(msg::kStateFileTransfer),
                         Message(msg::kStateVerification), Message(msg::kStateFlashing)}));
  EXPECT_EQ(Label("StateLabel"), Message(msg::kStateFlashing));
  EXPECT_EQ(watched.changesWithAButtonEnabled, 0);
  EXPECT_EQ(watched.changesWithTheBarVisible, 0);
  EXPECT_EQ(watched.changesWithTheTimerOn, 0);

  // "(position из size)" rising to the whole image in the write and again in the verification;
  // cleared for the flashing, where only the time waited for the new version follows.
  ASSERT_FALSE(watched.progress.isEmpty());
  const QStringList flashing = watched.progressByState.value(Message(msg::kStateFlashing));
  ASSERT_FALSE(flashing.isEmpty());
  EXPECT_EQ(flashing.front(), QString());
  const QRegularExpression waited(QString::fromUtf8("^\\d+:\\d\\d из 5:00$"));
  for (qsizetype i = 1; i < flashing.size(); ++i) {
    EXPECT_TRUE(waited.match(flashing[i]).hasMatch()) << flashing[i].toStdString();
  }
  const QRegularExpression format(QString::fromUtf8("^\\((\\d+) из %1\\)$").arg(kImageSize));
  for (const QString& stage :
       {Message(msg::kStateFileTransfer), Message(msg::kStateVerification)}) {
    const QStringList texts = watched.progressByState.value(stage);
    ASSERT_FALSE(texts.isEmpty()) << stage.toStdString();
    int previous = 0;
    for (const QString& text : texts) {
      const QRegularExpressionMatch match = format.match(text);
      ASSERT_TRUE(match.hasMatch()) << text.toStdString();
      EXPECT_GE(match.captured(1).toInt(), previous) << text.toStdString();
      previous = match.captured(1).toInt();
    }
    EXPECT_EQ(previous, kImageSize) << stage.toStdString();
  }
  EXPECT_EQ(Control<QProgressBar>("LoadProgressBar")->maximum(), kImageSize);

  EXPECT_TRUE(form->Terminating());
  EXPECT_EQ(form->loader().LastOutcome(), Outcome::kUpdated);
  EXPECT_EQ(form->ExitStatus(), 0);
  EXPECT_EQ(instrument->KernelRequests(), 1);
  EXPECT_TRUE(instrument->Installed());
  EXPECT_TRUE(instrument->ClockSet());
}

// The version wait with the traffic thread paced by the window's event loop: however long the
// installing instrument keeps silent, the window turns at least every 100 ms of virtual time, and
// its close box, answered at once, says that the install goes on.
TEST_F(FormUpdateTest, TheWindowKeepsAnsweringWhileTheInstrumentInstalls) {
  Clock::TimePoint flashingAt{};
  std::atomic<bool> waiting{false};
  onState = [&](const QString& text) {
    if (text != Message(msg::kStateFlashing)) return;
    flashingAt = clock.Now();
    waiting = true;
    clock.PaceWhile([&waiting] { return waiting.load(); });
  };
  boxes.onShow = [&](const BoxRequest& box) {
    if (box.source == BoxSource::kSystem) waiting = false;  // the wait has ended
  };
  bool closed = false;
  clock.onTurn = [&] {
    if (closed || clock.Now() - flashingAt < std::chrono::seconds(2)) return;
    closed = true;
    form->close();
  };
  boxes.answerYes = [](const BoxRequest& box) {
    return box.text != MessageText(msg::kCloseDuringInstall, 0);
  };
  Load();
  clock.PaceWhile(nullptr);

  const std::vector<Clock::TimePoint>& turns = clock.turns;
  // The instrument needs 5 s to install: the polls meet read timeouts meanwhile.
  ASSERT_GE(turns.size(), 50u);
  Clock::Duration longestGap{};
  for (size_t i = 1; i < turns.size(); ++i) {
    longestGap = std::max(longestGap, turns[i] - turns[i - 1]);
  }
  EXPECT_LE(longestGap, std::chrono::milliseconds(100));

  ASSERT_EQ(boxes.shown.size(), 3u);
  ExpectBox(boxes.shown[1], BoxSource::kApplication, BoxSymbol::kQuestion,
            MessageText(msg::kWindowCaption, 0), MessageText(msg::kCloseDuringInstall, 0));
  EXPECT_EQ(boxes.shown[1].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(boxes.shown[1].defaultAnswer, BoxAnswer::kNo);
  EXPECT_EQ(boxes.shown[2].text, SuccessBoxText(*instrument));
  EXPECT_EQ(form->loader().LastOutcome(), Outcome::kUpdated);
  EXPECT_TRUE(instrument->ClockSet());
}

TEST_F(FormUpdateTest, AnErrorBoxEndsTheProgramWithAFailingStatusAndSaysTheFirmwareIsUnchanged) {
  instrument->Inject(sim::FaultSpec{.fault = sim::Fault::RefuseBlock, .text = "Нет места"});
  Load();
  ASSERT_EQ(boxes.shown.size(), 2u);
  ExpectBox(boxes.shown[1], BoxSource::kSystem, BoxSymbol::kError, "Ошибка",
            "Нет места\n" + std::string(MessageText(msg::kFirmwareUnchangedRepeat, 0)));
  EXPECT_TRUE(form->Terminating());
  EXPECT_EQ(form->ExitStatus(), TForm1::kExitFailed);
}

TEST_F(FormUpdateTest, NoToTheConfirmationLeavesTheWindowReady) {
  boxes.answerYes = [](const BoxRequest&) { return false; };
  Load();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, StringTableText(str::kConfirmLoad));
  for (const char* name : {"FindButton", "LoadButton", "CloseButton"}) {
    EXPECT_TRUE(Control<QPushButton>(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(watched.states.isEmpty());
  EXPECT_EQ(Label("StateLabel"), QString());
  EXPECT_FALSE(form->Terminating());
  EXPECT_TRUE(instrument->WriteBlocks("swap").empty());
  EXPECT_EQ(form->ExitStatus(), 0);
}

TEST_F(FormUpdateTest, RefusedVerificationReadLeavesTheWindowStuck) {
  // The verification read is refused when the connection is still busy: make it so just before.
  onState = [this](const QString& text) {
    if (text != Message(msg::kStateVerification)) return;
    std::string reason;
    LoaderProbe::Current(form->loader())->StartWrite(kFileSwap, reason);
  };
  Load();

  ASSERT_EQ(boxes.shown.size(), 2u);
  ExpectBox(boxes.shown[1], BoxSource::kSystem, BoxSymbol::kError, "Ошибка",
            FormatText(MessageText(msg::kOpenFileFailed, 0),
                       MessageText(msg::kRestartIncompleteTransaction, 0)) +
                "\n" + MessageText(msg::kFirmwareUnchangedRepeat, 0));
  EXPECT_EQ(Label("StateLabel"), Message(msg::kStateVerification));
  EXPECT_EQ(Label("LoadLabel"), QString::fromUtf8("(%1 из %1)").arg(kImageSize));
  for (const char* name : {"FindButton", "LoadButton", "CloseButton"}) {
    EXPECT_FALSE(Control<QPushButton>(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(form->Terminating());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(instrument->KernelRequests(), 0);
}

// The close box while the write runs. The gate holds the traffic thread in its second block, so
// the update is certainly under way when the question comes; answering opens the gate.
class FormCloseDuringUpdateTest : public FormUpdateTest {
 protected:
  void CloseDuringTheWrite(bool stop) {
    gate.Arm(std::this_thread::get_id(), 1);
    onState = [this](const QString& text) {
      if (text != Message(msg::kStateFileTransfer)) return;
      gate.WaitUntilHeld();
      form->close();
    };
    boxes.answerYes = [this, stop](const BoxRequest& box) {
      if (box.text != MessageText(msg::kInterruptLoad, 0)) return true;
      gate.Open();
      return stop;
    };
    Load();
    ASSERT_GE(boxes.shown.size(), 2u);
    ExpectBox(boxes.shown[1], BoxSource::kApplication, BoxSymbol::kQuestion,
              MessageText(msg::kWindowCaption, 0), MessageText(msg::kInterruptLoad, 0));
    EXPECT_EQ(boxes.shown[1].buttons, BoxButtons::kYesNo);
    EXPECT_EQ(gate.HeldWrites(), 1);
  }
};

TEST_F(FormCloseDuringUpdateTest, YesStopsTheUpdateAndEndsTheProgramWithoutAnotherBox) {
  CloseDuringTheWrite(true);
  EXPECT_EQ(boxes.shown.size(), 2u);  // no error box follows
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->Terminating());
  EXPECT_EQ(form->loader().LastOutcome(), Outcome::kInterrupted);
  EXPECT_EQ(form->ExitStatus(), TForm1::kExitAborted);
  // Neither the verification nor the install was begun.
  EXPECT_EQ(instrument->counters().CommandsWithCode(kCmdReadRequest), 0u);
  EXPECT_EQ(instrument->KernelRequests(), 0);
}

TEST_F(FormCloseDuringUpdateTest, NoLetsTheUpdateRunToItsEnd) {
  CloseDuringTheWrite(false);
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, SuccessBoxText(*instrument));
  EXPECT_EQ(form->loader().LastOutcome(), Outcome::kUpdated);
  EXPECT_EQ(instrument->KernelRequests(), 1);
}

// A line that keeps babbling holds the traffic thread in its drain for up to 10 s. Closing the
// window stops it within a slice: the window's thread, paced with the traffic thread, sees hardly
// any time pass while it stops the update.
TEST_F(FormUpdateTest, ClosingDuringABabblingLineReturnsWithinASecond) {
  onState = [&](const QString& text) {
    if (text != Message(msg::kStateFileTransfer)) return;
    instrument->Inject(sim::FaultSpec{.fault = sim::Fault::Babble, .count = -1});
    clock.PaceWhile([this] {
      const TVXA4410Connection* connection = LoaderProbe::Current(form->loader());
      return connection != nullptr && !connection->Aborted();
    });
  };
  Clock::TimePoint transferAt{};
  std::optional<Clock::Duration> closing;
  size_t sentWhenClosed = 0;
  clock.onTurn = [&] {
    if (transferAt == Clock::TimePoint{}) transferAt = clock.Now();
    if (closing || clock.Now() - transferAt < std::chrono::seconds(3)) return;
    const Clock::TimePoint before = clock.Now();
    form->close();
    closing = clock.Now() - before;
    sentWhenClosed = instrument->Commands().size();
  };
  Load();
  clock.PaceWhile(nullptr);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, MessageText(msg::kInterruptLoad, 0));
  EXPECT_EQ(boxes.shown[1].defaultAnswer, BoxAnswer::kYes);
  ASSERT_TRUE(closing);
  EXPECT_LT(*closing, std::chrono::seconds(1));
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->ExitStatus(), TForm1::kExitAborted);
  EXPECT_EQ(instrument->Commands().size(), sentWhenClosed);
}

// The table both windows are put through (tests/win32 runs it on the Windows window).
class QtWindow final : public WindowDriver {
 public:
  void Make(FtDriver& driver, Clock& clock, MessageBoxes& boxes) override {
    form_ = std::make_unique<TForm1>(driver, clock, boxes);
    QObject::connect(form_.get(), &TForm1::StateTextChanged, form_.get(),
                     [this](const QString& text) {
                       if (watch_) watch_(text.toStdString());
                     });
    form_->show();
  }
  void Destroy() override { form_.reset(); }
  void ClickFind() override { Button("FindButton")->click(); }
  void ClickLoad() override { Button("LoadButton")->click(); }
  void RequestClose() override {
    QMetaObject::invokeMethod(form_.get(), [this] { form_->close(); }, Qt::QueuedConnection);
  }
  void WatchStateText(std::function<void(const std::string&)> watch) override {
    watch_ = std::move(watch);
  }
  bool LoadEnabled() override { return Button("LoadButton")->isEnabled(); }
  bool Visible() override { return form_->isVisible(); }
  bool Terminating() override { return form_->Terminating(); }
  int ExitStatus() override { return form_->ExitStatus(); }
  std::vector<std::string> MemoLines() override {
    const QString text = form_->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
    std::vector<std::string> lines;
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
    return lines;
  }

 private:
  QPushButton* Button(const char* name) { return form_->findChild<QPushButton*>(name); }

  std::unique_ptr<TForm1> form_;
  std::function<void(const std::string&)> watch_;
};

TEST(FormCaseTest, EveryCaseOfTheWindowsTable) {
  for (const WindowCase& c : WindowCases()) {
    QtWindow window;
    RunWindowCase(c, window);
  }
}

}  // namespace
}  // namespace vxa::test
