#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "app/Loader.h"
#include "link/Diagnostics.h"
#include "link/InstrumentProtocol.h"
#include "text/Messages.h"
#include "sim/SimBus.h"
#include "tests/support/LoaderProbe.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TempDir.h"

namespace vxa {
namespace {

using sim::Fault;
using sim::FaultSpec;
using Box = test::RecordingView::Box;
using test::LoaderProbe;

std::string Msg(int32_t id) { return MessageText(id, 0); }

// The application against a simulated instrument in virtual time.
class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() { SetMessageLanguage(kLanguageRussian); }

  sim::SimInstrument& Attach(sim::InstrumentConfig config = {}) {
    return bus_.AttachInstrument(std::move(config));
  }
  Loader& MakeLoader() {
    loader_ = std::make_unique<Loader>(view_, bus_, clock_);
    return *loader_;
  }
  // Find, then Load: the whole update as the user does it. How the update ended.
  Outcome Update() {
    Loader& loader = MakeLoader();
    EXPECT_EQ(loader.Find(), Outcome::kFound) << "search failed";
    EXPECT_TRUE(view_.loadEnabled) << "search failed";
    return loader.Load();
  }
  const Box& LastBox() {
    static const Box kNone{ReportKind::kError, "no box"};
    return view_.boxes.empty() ? kNone : view_.boxes.back();
  }

  VirtualClock clock_;
  sim::SimBus bus_{clock_};
  test::RecordingView view_;
  std::unique_ptr<Loader> loader_;
};

TEST_F(LoaderTest, AWholeUpdateEndsWithTheSuccessBoxAndTheInstrumentsClockSet) {
  sim::SimInstrument& instrument = Attach();
  clock_.SetLocalTime(LocalDateTime{2026, 12, 7, 14, 30, 0});
  view_.onState = [&](const std::string& state) {
    if (state == Msg(msg::kStateFlashing)) {
      // Nothing but the verified image may be installed.
      EXPECT_EQ(instrument.FileContent("swap").size(), 2433882u);
      EXPECT_EQ(instrument.KernelRequests(), 1);
    }
  };
  const Outcome outcome = Update();

  EXPECT_EQ(view_.memo, (std::vector<std::string>{"Модель: VXA-4410", "Заводской номер: 4410017",
                                                  "Версия прибора: 2.1",
                                                  "Версия программы: 1.22.0"}));
  EXPECT_EQ(view_.questions, (std::vector<std::string>{StringTableText(str::kConfirmLoad)}));
  EXPECT_EQ(view_.states,
            (std::vector<std::string>{Msg(msg::kStateWriteRequest), Msg(msg::kStateFileTransfer),
                                      Msg(msg::kStateVerification), Msg(msg::kStateFlashing)}));
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().kind, ReportKind::kInformation);
  EXPECT_EQ(LastBox().text, "Прошивка прибора успешно завершена");
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(outcome, Outcome::kUpdated);
  EXPECT_EQ(loader_->LastOutcome(), Outcome::kUpdated);
  EXPECT_FALSE(view_.buttonEnabledDuringUpdate);
  EXPECT_FALSE(view_.findEnabled || view_.loadEnabled || view_.closeEnabled);

  EXPECT_EQ(instrument.KernelRequests(), 1);
  EXPECT_EQ(instrument.ProgramVersionText(), "1.23.1");
  ASSERT_TRUE(instrument.ClockSet());
  EXPECT_EQ(instrument.ClockRecord()[0], 26);
  EXPECT_EQ(instrument.ClockRecord()[1], 12);
  EXPECT_EQ(instrument.ClockRecord()[2], 7);
  EXPECT_EQ(view_.progressMax, 2433882);
  EXPECT_EQ(view_.progressPosition, 2433882);
  // The install has no figures: none are given after its stage begins.
  EXPECT_EQ(view_.stages.back(), Stage::kFlashing);
  EXPECT_EQ(view_.loadLabel, "");
  // The label counted up against the image size, twice.
  ASSERT_FALSE(view_.loadLabels.empty());
  for (const std::string& label : view_.loadLabels) {
    EXPECT_EQ(label.substr(0, 1), "(");
    EXPECT_EQ(label.substr(label.size() - 14), " из 2433882)") << label;
  }
  EXPECT_NE(std::find(view_.loadLabels.begin(), view_.loadLabels.end(), "(2433882 из 2433882)"),
            view_.loadLabels.end());
}

TEST_F(LoaderTest, TheLogOptionMakesTheSearchStartAFreshLog) {
  test::ScopedTempDir dir;
  Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  EXPECT_FALSE(dir.Exists(kLogFileName));
  loader.SetLogEnabled(true);
  loader.Find();
  loader.Find();  // a second search starts the file again
  EXPECT_EQ(dir.Read(kLogFileName), "CMD Code=30 Len=0\nCMD Code=255 Len=4\n");
}

TEST_F(LoaderTest, SayingNoLeavesEverythingAsItWas) {
  sim::SimInstrument& instrument = Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  view_.answers = {false};
  instrument.ClearCalls();
  loader.Load();
  EXPECT_TRUE(view_.loadEnabled);
  EXPECT_TRUE(view_.findEnabled);
  EXPECT_TRUE(view_.states.empty());
  EXPECT_TRUE(instrument.Commands().empty());
  EXPECT_FALSE(view_.terminating);
}

TEST_F(LoaderTest, SearchFailuresShowTheirBoxes) {
  {
    Loader& loader = MakeLoader();
    EXPECT_EQ(loader.Find(), Outcome::kNoDevice);
    EXPECT_EQ(LastBox().kind, ReportKind::kWarning);
    EXPECT_EQ(LastBox().text, Msg(msg::kNoDeviceConnected));
    EXPECT_EQ(loader.LastOutcome(), Outcome::kNoDevice);
  }
  {
    Attach();
    Attach();
    Loader& loader = MakeLoader();
    loader.Find();
    EXPECT_EQ(LastBox().text, Msg(msg::kMoreThanOneDevice));
    EXPECT_EQ(LoaderProbe::ConnectionCount(loader), 0u);
    EXPECT_EQ(bus_.OpenHandles(), 0);
  }
  {
    bus_.DetachAll();
    Attach();
    bus_.AttachForeignDevice("USB Serial Converter");
    MakeLoader().Find();
    EXPECT_EQ(LastBox().text, Msg(msg::kMoreThanOneDevice));
  }
  EXPECT_FALSE(view_.loadEnabled);
  EXPECT_FALSE(view_.terminating);
}

TEST_F(LoaderTest, AnotherAdapterAloneFailsToOpenAndTheStandardDisplayShowsWhy) {
  bus_.AttachForeignDevice("USB Serial Converter");
  Loader& loader = MakeLoader();
  loader.Find();
  EXPECT_EQ(LastBox().kind, ReportKind::kStandardError);
  EXPECT_EQ(LastBox().text, "FT_Open failed");
  EXPECT_EQ(LastBox().cause, ConnErrorKind::kLink);
  EXPECT_FALSE(view_.loadEnabled);
  EXPECT_EQ(loader.LastOutcome(), Outcome::kNoDevice);
  EXPECT_EQ(LoaderProbe::ConnectionCount(loader), 1u);  // kept, closed, until the next search
}

TEST_F(LoaderTest, AnInstrumentThatDoesNotAnswerIsReportedAsNotConnected) {
  sim::SimInstrument& instrument = Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  ASSERT_TRUE(view_.loadEnabled);
  instrument.Inject(FaultSpec{.fault = Fault::Silent, .count = -1});
  EXPECT_EQ(loader.Find(), Outcome::kNotResponding);
  EXPECT_EQ(LastBox().kind, ReportKind::kNotAnswering);
  EXPECT_EQ(LastBox().text, "Прибор не подключен к USB порту");
  EXPECT_EQ(LastBox().cause, ConnErrorKind::kLink);
  EXPECT_EQ(LastBox().hint, Msg(msg::kHintInstalling));
  EXPECT_EQ(LastBox().fault.kind, BridgeCause::kNone);  // silent, not gone
  EXPECT_FALSE(view_.loadEnabled);
  EXPECT_EQ(view_.memo.size(), 4u);  // still the earlier instrument's lines
  EXPECT_EQ(loader.LastOutcome(), Outcome::kNotResponding);
  EXPECT_EQ(bus_.OpenHandles(), 1);  // open until the next search
}

// A bridge that gives a bare status for a step of opening: the step's text, and under it what
// the status stands for.
TEST_F(LoaderTest, EachFailedStepOfOpeningIsShownWithItsCause) {
  const struct {
    sim::Call call;
    FtStatus status;
    const char* text;
    BridgeCause cause;
    std::string causeText;
  } rows[] = {
      {sim::Call::SetDivisor, kFtInvalidBaudRate, "FT_SetDivisor failed",
       BridgeCause::kNotSupported, Msg(msg::kCauseBridgeSpeed)},
      {sim::Call::ResetDevice, kFtIoError, "FT_ResetDevice failed", BridgeCause::kDisconnected,
       Msg(msg::kCauseDisconnected)},
      {sim::Call::Purge, kFtDeviceNotOpened, "FT_Purge failed", BridgeCause::kDisconnected,
       Msg(msg::kCauseDisconnected)},
      {sim::Call::SetFlowControl, kFtNotSupported, "FT_SetFlowControl failed", BridgeCause::kOther,
       FormatText(Msg(msg::kCauseDriverStatus).c_str(), "FT_NOT_SUPPORTED", 17u)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    sim::SimBus bus{clock_};
    bus.AttachInstrument().FailNextCall(row.call, row.status);
    test::RecordingView view;
    Loader loader(view, bus, clock_);
    EXPECT_EQ(loader.Find(), Outcome::kFailed);
    ASSERT_FALSE(view.boxes.empty());
    const Box& box = view.boxes.back();
    EXPECT_EQ(box.kind, ReportKind::kStandardError);
    EXPECT_EQ(box.text, row.text);
    EXPECT_EQ(box.fault.kind, row.cause);
    EXPECT_EQ(box.fault.text, row.causeText);
    EXPECT_EQ(ReportBoxText(box), std::string(row.text) + "\n" + row.causeText);
    EXPECT_EQ(bus.OpenHandles(), 0);  // closed again
  }
}

TEST_F(LoaderTest, AFailedListingEndsTheProgram) {
  Attach().FailNextCall(sim::Call::CountDevices, kFtIoError);
  EXPECT_EQ(MakeLoader().Find(), Outcome::kNoDevice);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text, "Ошибка при поиске устройств (статус = 4)");
  EXPECT_TRUE(view_.terminating);
}

struct UpdateFailure {
  const char* name;
  FaultSpec fault;
  std::string text;
  ConnErrorKind cause;
  // For a failed verification: where the first byte differs, and how many bytes were compared.
  std::optional<std::pair<uint32_t, uint32_t>> difference = std::nullopt;
  BridgeCause bridgeCause = BridgeCause::kNone;  // what the bridge's failure is put down to
};
void PrintTo(const UpdateFailure& failure, std::ostream* out) { *out << failure.name; }

class UpdateFailureTest : public LoaderTest, public ::testing::WithParamInterface<UpdateFailure> {};

TEST_P(UpdateFailureTest, EndsWithItsErrorBoxAndNeverRequestsTheInstall) {
  test::ScopedTempDir dir;
  sim::SimInstrument& instrument = Attach();
  Loader& loader = MakeLoader();
  loader.SetLogEnabled(true);
  loader.Find();
  instrument.Inject(GetParam().fault);
  EXPECT_EQ(loader.Load(), Outcome::kFailed);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text, GetParam().text);
  EXPECT_EQ(LastBox().cause, GetParam().cause);
  EXPECT_EQ(LastBox().consequence, Msg(msg::kFirmwareUnchangedRepeat));
  EXPECT_EQ(LastBox().fault.kind, GetParam().bridgeCause);
  if (GetParam().bridgeCause == BridgeCause::kDisconnected) {
    EXPECT_EQ(LastBox().fault.text, Msg(msg::kCauseDisconnected));
  }
  if (const auto& difference = GetParam().difference) {
    EXPECT_EQ(LastBox().detail, FormatText(Msg(msg::kVerifyMismatchAt).c_str(), difference->first,
                                           difference->second));
    // The log's own lines come first; the one that says where is the last.
    EXPECT_TRUE(
        dir.Read(kLogFileName)
            .ends_with(FormatText(logfmt::kVerifyMismatch, difference->first, difference->second)));
  } else {
    EXPECT_EQ(LastBox().detail, "");
  }
  EXPECT_EQ(instrument.KernelRequests(), 0);
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(loader.LastOutcome(), Outcome::kFailed);
  EXPECT_FALSE(view_.findEnabled || view_.loadEnabled || view_.closeEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdateFailureTest,
    ::testing::Values(
        // The 38th read block of 32760 bytes holds the byte that differs.
        UpdateFailure{"Mismatch", FaultSpec{.fault = Fault::CorruptReadBack, .value = 1234567},
                      "Несовпадение проверяемых данных", ConnErrorKind::kOther,
                      std::pair{1234567u, 38u * 32760u}},
        UpdateFailure{"ShortReadBack", FaultSpec{.fault = Fault::ShortReadBack, .value = 10},
                      "Несовпадение проверяемых данных", ConnErrorKind::kOther,
                      std::pair{2433872u, 2433872u}},
        UpdateFailure{"LongReadBack", FaultSpec{.fault = Fault::LongReadBack},
                      "Недостаточно места для записи в файл", ConnErrorKind::kOther},
        UpdateFailure{"RefusedWrite",
                      FaultSpec{.fault = Fault::RefuseRequest, .text = "Батарея разряжена"},
                      "Батарея разряжена", ConnErrorKind::kRefused},
        UpdateFailure{"SilentDuringWrite",
                      FaultSpec{.fault = Fault::Silent, .count = -1, .onCommand = kCmdWriteBlock},
                      "Ошибка связи с прибором", ConnErrorKind::kLink},
        UpdateFailure{"UnpluggedDuringRead",
                      FaultSpec{.fault = Fault::Unplug, .skip = 3, .onCommand = kCmdReadAck},
                      "Ошибка чтения файла FTDI код 4", ConnErrorKind::kLink, std::nullopt,
                      BridgeCause::kDisconnected}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoaderTest, ARefusedVerificationLeavesTheWindowStuckWithItsReason) {
  Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  std::string ignored;
  view_.onState = [&](const std::string& state) {
    // Something else holds the connection when the verification is about to start.
    if (state == Msg(msg::kStateVerification)) {
      LoaderProbe::Current(loader)->StartWrite(kFileDevInfo, ignored);
    }
  };
  EXPECT_EQ(loader.Load(), Outcome::kFailed);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text,
            "Не удалось открыть файл, ошибка: Попытка перезапустить незавершенную транзакцию");
  EXPECT_FALSE(view_.terminating);
  EXPECT_FALSE(view_.findEnabled || view_.loadEnabled || view_.closeEnabled);
  EXPECT_EQ(view_.states.back(), Msg(msg::kStateVerification));
  // Only the close box is left; it asks before interrupting.
  view_.answers = {true};
  EXPECT_TRUE(loader.FormClose());
  EXPECT_EQ(view_.questions.back(), "Прервать процесс загрузки?");
  EXPECT_TRUE(view_.terminating);
}

TEST_F(LoaderTest, ALinkFailureWhileSettingTheClockEndsWithoutTheSuccessBox) {
  sim::InstrumentConfig config;
  config.installTime = std::chrono::seconds(0);
  sim::SimInstrument& instrument = Attach(config);
  view_.onState = [&](const std::string& state) {
    // The first text command after the install is the version poll, the second sets the clock.
    if (state == Msg(msg::kStateFlashing)) {
      instrument.Inject(FaultSpec{.fault = Fault::Unplug, .skip = 1, .onCommand = kCmdText});
    }
  };
  EXPECT_EQ(Update(), Outcome::kFailed);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text, "Ошибка чтения файла FTDI код 4");
  // The instrument has reported the new version: that is what the last line says.
  EXPECT_EQ(LastBox().consequence, Msg(msg::kNewVersionClockNotSet));
  EXPECT_TRUE(loader_->LastOutcome().FailedAs(FailureKind::kClockNotSet));
  const std::vector<std::string> texts = view_.BoxTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Прошивка прибора успешно завершена"), 0);
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(loader_->LastOutcome(), Outcome::kFailed);
}

TEST_F(LoaderTest, AVersionNeverReportedEndsAfterTheBoundWithoutSettingTheClock) {
  sim::SimInstrument& instrument = Attach();
  instrument.Inject(FaultSpec{.fault = Fault::NeverReportVersion});
  Clock::TimePoint flashingAt{};
  view_.onState = [&](const std::string& state) {
    if (state == Msg(msg::kStateFlashing)) flashingAt = clock_.Now();
  };
  EXPECT_EQ(Update(), Outcome::kVersionTimeout);
  EXPECT_EQ(LastBox().kind, ReportKind::kWarning);
  EXPECT_EQ(LastBox().text, Msg(msg::kImageTransferred));
  EXPECT_EQ(LastBox().consequence, Msg(msg::kInstallUnderWay));
  EXPECT_FALSE(instrument.ClockSet());
  // The time waited is shown from the start of the wait, against its bound.
  ASSERT_FALSE(view_.waitedTexts.empty());
  EXPECT_EQ(view_.waitedTexts.front(), "0:00 из 5:00");
  for (const std::string& text : view_.waitedTexts) EXPECT_TRUE(text.ends_with(" из 5:00")) << text;
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(loader_->LastOutcome(), Outcome::kVersionTimeout);
  const auto waited = std::chrono::duration_cast<std::chrono::seconds>(clock_.Now() - flashingAt);
  EXPECT_GE(waited.count(), 300);
  EXPECT_LT(waited.count(), 320);
}

TEST_F(LoaderTest, ClosingDuringTheTransferAsksAndStopsCleanly) {
  sim::SimInstrument& instrument = Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  bool asked = false;
  size_t sentWhenStopped = 0;
  view_.onEvents = [&] {
    if (!asked && view_.states.back() == Msg(msg::kStateFileTransfer)) {
      asked = true;
      view_.answers = {false};
      EXPECT_FALSE(loader.FormClose());  // No: the update goes on
      view_.answers = {true};
      EXPECT_TRUE(loader.FormClose());
      sentWhenStopped = instrument.Commands().size();
    }
  };
  EXPECT_EQ(loader.Load(), Outcome::kInterrupted);
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(loader.LastOutcome(), Outcome::kInterrupted);
  EXPECT_EQ(instrument.KernelRequests(), 0);
  EXPECT_EQ(view_.questions.back(), "Прервать процесс загрузки?");
  EXPECT_EQ(view_.questionDefaults.back(), DefaultAnswer::kYes);
  EXPECT_EQ(instrument.Commands().size(), sentWhenStopped);  // nothing after the stop
}

TEST_F(LoaderTest, AnInstallTheInstrumentRefusesIsReportedAtOnceAndSetsNoClock) {
  sim::SimInstrument& instrument = Attach();
  // The second write request is the install request.
  instrument.Inject(FaultSpec{.fault = Fault::RefuseRequest,
                              .skip = 1,
                              .onCommand = kCmdWriteRequest,
                              .text = "Батарея разряжена"});
  Clock::TimePoint verifiedAt{};
  uint64_t textsBefore = 0;
  view_.onState = [&](const std::string& state) {
    if (state != Msg(msg::kStateVerification)) return;
    verifiedAt = clock_.Now();
    textsBefore = instrument.counters().CommandsWithCode(kCmdText);
  };
  EXPECT_EQ(Update(), Outcome::kFailed);
  EXPECT_EQ(instrument.KernelRequests(), 1);
  EXPECT_FALSE(instrument.Installing() || instrument.Installed());
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text, "Прибор отказался устанавливать новую программу: Батарея разряжена");
  EXPECT_EQ(LastBox().cause, ConnErrorKind::kRefused);
  EXPECT_EQ(LastBox().consequence, Msg(msg::kFirmwareUnchangedRepeat));
  EXPECT_EQ(view_.states.back(), Msg(msg::kStateVerification));  // never "Прошивка..."
  EXPECT_FALSE(instrument.ClockSet());
  // No version poll either, and no wait: the read-back itself takes about 9 s.
  EXPECT_EQ(instrument.counters().CommandsWithCode(kCmdText), textsBefore);
  EXPECT_LT(clock_.Now() - verifiedAt, std::chrono::seconds(20));
  EXPECT_TRUE(view_.terminating);
  EXPECT_FALSE(loader_->KernelRequested());
}

TEST_F(LoaderTest, ClosingAfterTheInstallRequestSaysTheInstallGoesOnAndDefaultsToNo) {
  sim::SimInstrument& instrument = Attach();
  Loader& loader = MakeLoader();
  loader.Find();
  view_.onState = [&](const std::string& state) {
    if (state != Msg(msg::kStateFlashing)) return;
    view_.answers = {false, true};
    EXPECT_FALSE(loader.FormClose());  // No: the wait goes on
    EXPECT_TRUE(loader.FormClose());
  };
  EXPECT_EQ(loader.Load(), Outcome::kInterrupted);
  EXPECT_EQ(view_.questions, (std::vector<std::string>{StringTableText(str::kConfirmLoad),
                                                       Msg(msg::kCloseDuringInstall),
                                                       Msg(msg::kCloseDuringInstall)}));
  EXPECT_EQ(view_.questionDefaults.back(), DefaultAnswer::kNo);
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(instrument.KernelRequests(), 1);
  EXPECT_FALSE(instrument.ClockSet());
}

TEST_F(LoaderTest, ClosingWithNothingRunningNeedsNoQuestion) {
  Attach();
  Loader& loader = MakeLoader();
  EXPECT_TRUE(loader.FormClose());
  loader.Find();
  EXPECT_TRUE(loader.FormClose());
  EXPECT_TRUE(view_.questions.empty());
}

TEST_F(LoaderTest, AMissingBootImageIsReportedAndTheProgramEnds) {
  const EmbeddedResource none[] = {{"OTHER", "LOADBIN", nullptr, 0}};
  Loader loader(view_, bus_, clock_, none);
  EXPECT_EQ(LastBox().kind, ReportKind::kError);
  EXPECT_EQ(LastBox().text, "Не найден ресурс содержащий загрузочный образ");
  EXPECT_TRUE(view_.terminating);
  EXPECT_EQ(LoaderProbe::BootImage(loader), nullptr);
}

}  // namespace
}  // namespace vxa
