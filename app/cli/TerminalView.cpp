#include "app/cli/TerminalView.h"

#include "app/cli/Console.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// A confirmation answer longer than this is not an answer; the rest of the line is skipped.
constexpr size_t kMaxAnswerLength = 64;

}  // namespace

TerminalView::TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams,
                           bool assumeYes)
    : clock_(clock), signals_(signals), streams_(streams), assumeYes_(assumeYes) {}

void TerminalView::Print(std::FILE* stream, const std::string& text) {
  BreakProgressLine();
  std::string plain = PlainTerminalText(text);
  if (plain.empty() || plain.back() != '\n') plain.push_back('\n');
  WriteText(stream, plain);
}

void TerminalView::DeviceFound(const DeviceLines& lines, const InstrumentFacts&) {
  for (const std::string& line : lines) Print(streams_.out, line);
}

void TerminalView::ShowReport(const Report& report) {
  std::FILE* stream = report.kind == ReportKind::kInformation ? streams_.out : streams_.err;
  Print(stream, report.text);
  if (!report.detail.empty()) Print(stream, report.detail);
  if (!report.consequence.empty()) Print(stream, report.consequence);
}

void TerminalView::DiagnosticsUnavailable(const std::string& text) {
  Print(streams_.err, text);
}

void TerminalView::NewFirmwareReported(const std::string& programVersion,
                                       const std::optional<LocalDateTime>& clockSet) {
  Print(streams_.out, FormatText(VXA_MSG(msg::kNewProgramVersion), programVersion.c_str()));
  if (!clockSet) return;
  const LocalDateTime& at = *clockSet;
  Print(streams_.out, FormatText(VXA_MSG(msg::kDeviceClockSet),
                                 FormatText("%04d-%02d-%02d %02d:%02d:%02d", at.year, at.month,
                                            at.day, at.hour, at.minute, at.second)
                                     .c_str()));
}

void TerminalView::StageChanged(Stage stage, const std::string& text) {
  // From the first stage on, a key typed would only break the progress line, and be left over
  // for the shell.
  if (!typingHidden_ && streams_.inputIsTerminal) typingHidden_.emplace(streams_.inputFd);
  if (text == stage_) return;
  // The stage that ends keeps its line in the scrollback, with its last figures.
  if (lineDrawn_) {
    DrawLine();
    BreakProgressLine();
  }
  stage_ = text;
  reading_ = stage == Stage::kFileRead;
  // Numbers and rates belong to the stage that produced them.
  label_.clear();
  meter_.Reset();
  Redraw(true);
}

void TerminalView::ProgressChanged(const Progress& progress) {
  total_ = progress.total;
  // The rate is measured between the moves of the position.
  if (progress.position != position_) {
    position_ = progress.position;
    meter_.Add(clock_.Now(), position_);
  }
  // A read's total is only what has arrived so far: no "of" that would look like a size.
  const std::string label = reading_ ? FormatText(VXA_MSG(msg::kBytesReceived), progress.position)
                                     : ProgressText(progress);
  if (label == label_) return;
  label_ = label;
  Redraw(false);
}

void TerminalView::VersionWaitChanged(const Waited& waited) {
  // The time waited stands where a transfer's figures stood, next to the stage.
  const std::string label = WaitedText(waited);
  if (label == label_) return;
  label_ = label;
  Redraw(false);
}

void TerminalView::Redraw(bool stageChanged) {
  if (!streams_.errIsTerminal) {
    // A log or a pipe gets one line per stage and nothing in between.
    if (stageChanged && !stage_.empty()) WriteText(streams_.err, stage_ + "\n");
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!stageChanged && lineDrawn_ && now - lastRedraw_ < kRedrawInterval) return;
  DrawLine();
}

void TerminalView::DrawLine() {
  if (!streams_.errIsTerminal) return;
  lastRedraw_ = std::chrono::steady_clock::now();
  ProgressLine line;
  line.stage = stage_;
  line.label = label_;
  if (!label_.empty()) {
    const Clock::TimePoint when = clock_.Now();
    line.bytesPerSecond = meter_.BytesPerSecond(when);
    // The instrument does not say how large a file it is sending: no time left can be given.
    if (!reading_) line.timeLeft = meter_.TimeLeft(total_, when);
  }
  const std::string text = FitToColumns(FormatProgressLine(line), TerminalColumns(streams_.err));
  if (lineDrawn_ && text == drawn_) return;
  drawn_ = text;
  // Back to the start of the line, the new text, then clear whatever the old one left behind.
  WriteText(streams_.err, "\r" + text + std::string(kClearToLineEnd));
  lineDrawn_ = true;
}

void TerminalView::BreakProgressLine() {
  if (!lineDrawn_) return;
  WriteText(streams_.err, "\n");
  lineDrawn_ = false;
}

void TerminalView::FinishProgress() {
  if (lineDrawn_) DrawLine();
  BreakProgressLine();
  typingHidden_.reset();
}

void TerminalView::CheckSignal() {
  signals_.Drain();
  if (interrupted_ || signals_.Signal() == 0) return;
  interrupted_ = true;
  BreakProgressLine();
  if (onInterrupt_) onInterrupt_();
  terminating_ = true;
}

void TerminalView::ProcessEvents(std::chrono::milliseconds maxWait) {
  signals_.WaitFor(maxWait);
  CheckSignal();
  // A transfer that stalls shows a falling rate, not the last good one.
  if (lineDrawn_ && !label_.empty()) Redraw(false);
}

bool TerminalView::ReadAnswerLine(std::string* line) {
  line->clear();
  bool overlong = false;
  for (;;) {
    const SignalPipe::Input input = signals_.WaitForInput(streams_.inputFd);
    if (input == SignalPipe::Input::kFailed) return false;
    CheckSignal();
    if (interrupted_) return false;
    if (input != SignalPipe::Input::kReady) continue;
    char c = 0;
    const int got = signals_.ReadInputByte(streams_.inputFd, &c);
    if (got == -1) continue;
    if (got < 0) return false;
    if (got == 0) return !line->empty();
    if (c == '\n') {
      // Too long to be an answer: make it one that is asked again.
      if (overlong) {
        line->clear();
        line->push_back('?');
      }
      return true;
    }
    if (line->size() < kMaxAnswerLength) {
      line->push_back(c);
    } else {
      overlong = true;
    }
  }
}

// Only the update's confirmation is asked here, and it has no default: the answer is typed.
bool TerminalView::AskYesNo(const std::string& text, DefaultAnswer) {
  if (assumeYes_) return true;
  BreakProgressLine();
  if (!streams_.inputIsTerminal) {
    confirmationRefused_ = true;
    Print(streams_.err, VXA_MSG(msg::kConfirmNeedsTerminal));
    return false;
  }
  // The question once; after an answer that was neither, the answers that count and the prompt.
  std::string question = PlainTerminalText(text) + VXA_MSG(msg::kAnswerPrompt);
  for (;;) {
    WriteText(streams_.err, question);
    std::string answer;
    if (!ReadAnswerLine(&answer)) {
      // The end of the input or Ctrl-C: nothing was agreed to.
      WriteText(streams_.err, "\n");
      return false;
    }
    if (const std::optional<bool> yes = ParseYesNo(answer)) return *yes;
    // Which answers count, on a line of its own; the prompt after it starts flush left.
    WriteText(streams_.err, PlainTerminalText(VXA_MSG(msg::kAnswerChoices)) + "\n");
    question = PlainTerminalText(VXA_MSG(msg::kAnswerPrompt));
  }
}

}  // namespace vxa::cli
