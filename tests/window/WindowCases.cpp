#include "tests/window/WindowCases.h"

#include "app/LoaderView.h"
#include "link/Clock.h"
#include "link/Packet.h"

namespace vxa::test {
namespace {

std::string Msg(int id) {
  return MessageText(id, CurrentMessageLanguage());
}

std::string CaptionOf(const ExpectedBox& box) {
  switch (box.source) {
    case BoxSource::kApplication:
      return Msg(msg::kWindowCaption);
    case BoxSource::kStandardError:
      return kApplicationTitle;
    case BoxSource::kSystem:
      break;
  }
  if (box.symbol == BoxSymbol::kError) return Msg(msg::kCaptionError);
  return Msg(box.symbol == BoxSymbol::kWarning ? msg::kCaptionWarning : msg::kCaptionInformation);
}

ExpectedBox Confirmation() {
  return {BoxSource::kApplication, BoxSymbol::kQuestion, StringTableText(str::kConfirmLoad)};
}

ExpectedBox Failure(const std::string& text) {
  return {BoxSource::kSystem, BoxSymbol::kError, text + "\n" + Msg(msg::kFirmwareUnchangedRepeat)};
}

// A driver call that failed, with its cause on the line under it.
ExpectedBox Failed(const std::string& text, int32_t cause) { return Failure(text + "\n" + Msg(cause)); }

ExpectedBox Success() {
  return {BoxSource::kSystem, BoxSymbol::kInformation, kSuccessBox};
}

}  // namespace

BoxAnswer ScriptedBoxes::Show(const BoxRequest& request) {
  SaveWindowShot("box" + std::to_string(shown.size()));
  shown.push_back(request);
  if (onShow) onShow(request);
  if (request.buttons == BoxButtons::kOk) return BoxAnswer::kOk;
  return !answerYes || answerYes(request) ? BoxAnswer::kYes : BoxAnswer::kNo;
}

void ExpectBox(const BoxRequest& box, BoxSource source, BoxSymbol symbol,
               const std::string& caption, const std::string& text) {
  EXPECT_EQ(box.source, source) << box.text;
  EXPECT_EQ(box.symbol, symbol) << box.text;
  EXPECT_EQ(box.caption, caption) << box.text;
  EXPECT_EQ(box.text, text);
}

std::string SuccessBoxText(const sim::SimInstrument& instrument) {
  const auto clock = instrument.ClockRecord();
  const LocalDateTime given{2000 + clock[0], clock[1], clock[2], clock[3], clock[4], clock[5]};
  return NewFirmwareText(instrument.ProgramVersionText(), given) + "\n" +
         Msg(msg::kFirmwareCompleted);
}

void GatedDriver::Arm(std::thread::id free, int passFree) {
  std::lock_guard lock(mutex_);
  armed_ = true;
  open_ = false;
  free_ = free;
  passFree_ = passFree;
  counted_ = 0;
}

void GatedDriver::Open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  changed_.notify_all();
}

void GatedDriver::WaitUntilHeld() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return held_ > 0; });
}

int GatedDriver::HeldWrites() const {
  std::lock_guard lock(mutex_);
  return held_;
}

void GatedDriver::BeforeWrite() {
  std::unique_lock lock(mutex_);
  if (!armed_ || open_ || std::this_thread::get_id() == free_) return;
  if (++counted_ <= passFree_) return;
  ++held_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return open_; });
}

std::vector<DesignedControl> DesignedLayout() {
  return {
      {"LoadLabel", 222, 100, 3, 13, "", true, false},
      {"StateLabel", 224, 80, 192, 19, "", true, false},
      {"Label1", 8, 8, 38, 13, StringTableText(14), true, false},
      {"Label2", 222, 8, 191, 13, StringTableText(15), true, false},
      {"Label3", 222, 28, 192, 19, StringTableText(16), true, false},
      {"LoadButton", 222, 49, 75, 25, Msg(47), false, false},
      {"LoadProgressBar", 222, 114, 194, 16, "", true, true},
      {"CloseButton", 222, 136, 75, 25, Msg(48), true, false},
      {"Memo1", 8, 24, 208, 106, "", true, false},
      {"FindButton", 8, 136, 75, 25, Msg(46), true, false},
  };
}

std::vector<WindowCase> WindowCases() {
  const ExpectedBox noDevice{BoxSource::kSystem, BoxSymbol::kWarning, Msg(msg::kNoDeviceConnected)};
  const ExpectedBox several{BoxSource::kSystem, BoxSymbol::kWarning, Msg(msg::kMoreThanOneDevice)};
  const ExpectedBox notAnswering{BoxSource::kApplication, BoxSymbol::kWarning,
                                 StringTableText(str::kNotConnected) + "\n" +
                                     Msg(msg::kHintInstalling)};
  const ExpectedBox slowBridge{BoxSource::kStandardError, BoxSymbol::kError,
                               "FT_SetDivisor failed\n" + Msg(msg::kCauseBridgeSpeed)};
  ExpectedBox interrupt{BoxSource::kApplication, BoxSymbol::kQuestion, Msg(msg::kInterruptLoad)};
  ExpectedBox installing{BoxSource::kApplication, BoxSymbol::kQuestion,
                         Msg(msg::kCloseDuringInstall), BoxAnswer::kNo};
  const sim::FaultSpec silent{.fault = sim::Fault::Silent};
  const sim::FaultSpec refused{.fault = sim::Fault::RefuseBlock, .text = "Нет места"};
  const sim::FaultSpec mismatch{.fault = sim::Fault::CorruptReadBack, .value = 100000};
  const sim::FaultSpec unplug{.fault = sim::Fault::Unplug, .skip = 2, .onCommand = kCmdWriteBlock};
  return {
      {.name = "no instrument", .instruments = 0, .boxes = {noDevice}},
      {.name = "two instruments", .instruments = 2, .boxes = {several}},
      {.name = "one that does not answer", .faults = {silent}, .boxes = {notAnswering}},
      {.name = "a bridge that cannot run at the rate",
       .failCall = sim::Call::SetDivisor,
       .failStatus = kFtInvalidBaudRate,
       .boxes = {slowBridge},
       .exitStatus = 1},
      {.name = "one found", .loadEnabled = true},
      {.name = "a whole update",
       .load = true,
       .boxes = {Confirmation(), Success()},
       .terminating = true,
       .kernelRequests = 1},
      {.name = "No to the confirmation",
       .load = true,
       .answerConfirmation = false,
       .boxes = {Confirmation()},
       .loadEnabled = true},
      {.name = "a refused write",
       .faults = {refused},
       .load = true,
       .boxes = {Confirmation(), Failure("Нет места")},
       .terminating = true,
       .exitStatus = 1},
      {.name = "unplugged during the write",
       .faults = {unplug},
       .load = true,
       .boxes = {Confirmation(), Failed(Msg(msg::kFtdiReadError) + "4", msg::kCauseDisconnected)},
       .terminating = true,
       .exitStatus = 1},
      {.name = "a verification mismatch",
       .faults = {mismatch},
       .load = true,
       .boxes = {Confirmation(), Failure(Msg(msg::kVerifiedDataMismatch))},
       .terminating = true,
       .exitStatus = 1},
      {.name = "closed during the write, stopped",
       .load = true,
       .closeAtStage = msg::kStateFileTransfer,
       .boxes = {Confirmation(), interrupt},
       .terminating = true,
       .visible = false,
       .exitStatus = 130},
      {.name = "closed during the write, let run",
       .load = true,
       .closeAtStage = msg::kStateFileTransfer,
       .stopOnClose = false,
       .boxes = {Confirmation(), interrupt, Success()},
       .terminating = true,
       .kernelRequests = 1},
      {.name = "closed during the install, closed",
       .load = true,
       .closeAtStage = msg::kStateFlashing,
       .boxes = {Confirmation(), installing},
       .terminating = true,
       .visible = false,
       .exitStatus = 130,
       .kernelRequests = 1},
      {.name = "closed during the install, let run",
       .load = true,
       .closeAtStage = msg::kStateFlashing,
       .stopOnClose = false,
       .boxes = {Confirmation(), installing, Success()},
       .terminating = true,
       .kernelRequests = 1},
  };
}

void RunWindowCase(const WindowCase& c, WindowDriver& window) {
  SCOPED_TRACE(c.name);
  VirtualClock clock;
  sim::SimBus bus{clock};
  std::vector<sim::SimInstrument*> instruments;
  for (int i = 0; i < c.instruments; ++i) instruments.push_back(&bus.AttachInstrument());
  if (c.failStatus != kFtOk) instruments.front()->FailNextCall(c.failCall, c.failStatus);
  GatedDriver gate{bus};
  ScriptedBoxes boxes;
  window.Make(gate, clock, boxes);
  struct Ending {
    GatedDriver& gate;
    WindowDriver& window;
    ~Ending() {
      gate.Open();
      window.Destroy();
    }
  } ending{gate, window};
  const auto inject = [&] {
    for (const sim::FaultSpec& fault : c.faults) instruments.front()->Inject(fault);
  };
  // The close during the write: the gate holds the traffic thread in its second block, so the
  // update is certainly under way when the question comes; answering opens the gate.
  const bool duringWrite = c.closeAtStage == msg::kStateFileTransfer;
  if (duringWrite) gate.Arm(std::this_thread::get_id(), 1);
  window.WatchStateText([&](const std::string& text) {
    if (c.closeAtStage < 0 || text != Msg(c.closeAtStage)) return;
    // Any later stage: the traffic thread's next exchange waits for the answer, so that in virtual
    // time the stage cannot end before the window has handled the close.
    if (duringWrite) {
      gate.WaitUntilHeld();
    } else {
      gate.Arm(std::this_thread::get_id(), 0);
    }
    window.RequestClose();
  });
  boxes.answerYes = [&](const BoxRequest& box) {
    if (box.text == StringTableText(str::kConfirmLoad)) return c.answerConfirmation;
    gate.Open();
    return c.stopOnClose;
  };
  if (!c.load) inject();
  window.ClickFind();
  if (c.load) {
    ASSERT_TRUE(window.LoadEnabled());
    EXPECT_EQ(window.MemoLines().size(), 4u);
    boxes.shown.clear();
    inject();
    window.ClickLoad();
  }
  ASSERT_EQ(boxes.shown.size(), c.boxes.size());
  for (size_t i = 0; i < c.boxes.size(); ++i) {
    const ExpectedBox& expected = c.boxes[i];
    const BoxRequest& box = boxes.shown[i];
    const std::string text =
        expected.text == kSuccessBox ? SuccessBoxText(*instruments.front()) : expected.text;
    ExpectBox(box, expected.source, expected.symbol, CaptionOf(expected), text);
    EXPECT_EQ(box.owner != nullptr, expected.source == BoxSource::kApplication) << i;
    const bool question = expected.symbol == BoxSymbol::kQuestion;
    EXPECT_EQ(box.buttons, question ? BoxButtons::kYesNo : BoxButtons::kOk) << i;
    if (question) {
      EXPECT_EQ(box.defaultAnswer, expected.defaultAnswer) << i;
    }
  }
  if (c.loadEnabled && !c.load) {
    const std::vector<std::string> lines = window.MemoLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], StringTableText(str::kLabelModel) + "VXA-4410");
  }
  EXPECT_EQ(window.LoadEnabled(), c.loadEnabled);
  EXPECT_EQ(window.Terminating(), c.terminating);
  EXPECT_EQ(window.Visible(), c.visible);
  EXPECT_EQ(window.ExitStatus(), c.exitStatus);
  if (!instruments.empty()) {
    EXPECT_EQ(instruments.front()->KernelRequests(), c.kernelRequests);
  }
}

}  // namespace vxa::test
