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

void TerminalView::DeviceFound(const DeviceLines& lines) {
  for (const std::string& line : lines) Print(streams_.out, line);
}

void TerminalView::ShowReport(const Report& report) {
  Print(report.kind == ReportKind::kInformation ? streams_.out : streams_.err, report.text);
}

void TerminalView::StageChanged(Stage stage, const std::string& text) {
  totalKnown_ = stage != Stage::kFileRead;
  if (text == stage_) return;
  stage_ = text;
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
  const std::string label = ProgressText(progress);
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
  lastRedraw_ = now;
  ProgressLine line;
  line.stage = stage_;
  line.label = label_;
  if (!label_.empty()) {
    const Clock::TimePoint when = clock_.Now();
    line.bytesPerSecond = meter_.BytesPerSecond(when);
    if (totalKnown_) line.timeLeft = meter_.TimeLeft(total_, when);
  }
  // Back to the start of the line, the new text, then clear whatever the old one left behind.
  const std::string text = FitToColumns(FormatProgressLine(line), TerminalColumns(streams_.err));
  WriteText(streams_.err, "\r" + text + std::string(kClearToLineEnd));
  lineDrawn_ = true;
}

void TerminalView::BreakProgressLine() {
  if (!lineDrawn_) return;
  WriteText(streams_.err, "\n");
  lineDrawn_ = false;
}

void TerminalView::FinishProgress() {
  BreakProgressLine();
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

bool TerminalView::AskYesNo(const std::string& text) {
  if (assumeYes_) return true;
  BreakProgressLine();
  if (!streams_.inputIsTerminal) {
    confirmationRefused_ = true;
    Print(streams_.err, VXA_MSG(msg::kConfirmNeedsTerminal));
    return false;
  }
  // The question once, then only the prompt again after an answer that was neither.
  std::string question = PlainTerminalText(text) + VXA_MSG(msg::kAnswerPrompt);
  for (;;) {
    WriteText(streams_.err, question);
    question = VXA_MSG(msg::kAnswerPrompt);
    std::string answer;
    if (!ReadAnswerLine(&answer)) {
      // The end of the input or Ctrl-C: nothing was agreed to.
      WriteText(streams_.err, "\n");
      return false;
    }
    if (const std::optional<bool> yes = ParseYesNo(answer)) return *yes;
  }
}

}  // namespace vxa::cli
