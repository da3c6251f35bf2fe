#include "app/cli/TerminalView.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// A confirmation answer longer than this is not an answer; the rest of the line is skipped.
constexpr size_t kMaxAnswerLength = 64;

// The width of the terminal behind `stream`; 0 when it cannot be told.
size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int PollTimeout(std::chrono::milliseconds wait) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX));
}

}  // namespace

TerminalView::TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams,
                           bool assumeYes)
    : clock_(clock), signals_(signals), streams_(streams), assumeYes_(assumeYes) {}

void TerminalView::Print(std::FILE* stream, const std::string& text) {
  BreakProgressLine();
  std::string plain = PlainTerminalText(text);
  if (plain.empty() || plain.back() != '\n') plain.push_back('\n');
  std::fputs(plain.c_str(), stream);
  std::fflush(stream);
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
    if (stageChanged && !stage_.empty()) {
      std::fprintf(streams_.err, "%s\n", stage_.c_str());
      std::fflush(streams_.err);
    }
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
  std::fprintf(streams_.err, "\r%s\033[K", text.c_str());
  std::fflush(streams_.err);
  lineDrawn_ = true;
}

void TerminalView::BreakProgressLine() {
  if (!lineDrawn_) return;
  std::fputc('\n', streams_.err);
  std::fflush(streams_.err);
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
  pollfd wait{signals_.ReadFd(), POLLIN, 0};
  // EINTR (a signal arrived during the wait) needs nothing more: the pipe has its byte.
  ::poll(&wait, 1, PollTimeout(maxWait));
  CheckSignal();
  // A transfer that stalls shows a falling rate, not the last good one.
  if (lineDrawn_ && !label_.empty()) Redraw(false);
}

bool TerminalView::ReadAnswerLine(std::string* line) {
  line->clear();
  bool overlong = false;
  for (;;) {
    pollfd fds[2] = {{streams_.inputFd, POLLIN, 0}, {signals_.ReadFd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    CheckSignal();
    if (interrupted_) return false;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char c = 0;
    const ssize_t got = ::read(streams_.inputFd, &c, 1);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
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
    std::fputs(question.c_str(), streams_.err);
    question = VXA_MSG(msg::kAnswerPrompt);
    std::fflush(streams_.err);
    std::string answer;
    if (!ReadAnswerLine(&answer)) {
      // The end of the input or Ctrl-C: nothing was agreed to.
      std::fputc('\n', streams_.err);
      std::fflush(streams_.err);
      return false;
    }
    if (const std::optional<bool> yes = ParseYesNo(answer)) return *yes;
  }
}

}  // namespace vxa::cli
