#include "app/cli/TerminalView.h"

#include "app/cli/TerminalText.h"
#include "app/cli/TextOutput.h"

namespace vxa::cli {

TerminalView::TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams,
                           bool assumeYes, Output& output, Who who)
    : TerminalView(clock, signals, streams, assumeYes, nullptr, &output, std::move(who)) {}

TerminalView::TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams,
                           bool assumeYes)
    : TerminalView(clock, signals, streams, assumeYes, std::make_unique<TextOutput>(streams),
                   nullptr, {}) {}

TerminalView::TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams,
                           bool assumeYes, std::unique_ptr<Output> own, Output* output, Who who)
    : signals_(signals),
      streams_(streams),
      ownOutput_(std::move(own)),
      output_(output != nullptr ? *output : *ownOutput_),
      who_(std::move(who)),
      interrupts_(signals),
      prompt_(signals, streams, assumeYes, [this] { return CheckSignal(); }) {
  who_.clock = &clock;
  interrupts_.SetHandlers([this] { output_.Interjecting(); }, nullptr);
}

TerminalView::~TerminalView() = default;

void TerminalView::DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) {
  facts_ = facts;
  output_.InstrumentFound(who_, lines, facts);
}

void TerminalView::ShowReport(const Report& report) { output_.Reported(who_, report); }

void TerminalView::DiagnosticsUnavailable(const std::string& text) {
  output_.LogUnavailable(who_, text);
}

void TerminalView::NewFirmwareReported(const std::string& programVersion,
                                       const std::optional<LocalDateTime>& clockSet) {
  output_.NewFirmware(who_, programVersion, clockSet);
}

void TerminalView::StageChanged(Stage stage, const std::string& text) {
  // From the first stage on, a key typed would only break the progress line, and be left over
  // for the shell.
  if (!typingHidden_ && streams_.inputIsTerminal) typingHidden_.emplace(streams_.inputFd);
  output_.StageEntered(who_, stage, text);
}

void TerminalView::ProgressChanged(const Progress& progress) {
  output_.Progressed(who_, progress);
}

void TerminalView::VersionWaitChanged(const Waited& waited) {
  output_.VersionWaited(who_, waited);
}

void TerminalView::FinishProgress() {
  output_.StagesOver(who_);
  typingHidden_.reset();
}

bool TerminalView::CheckSignal() {
  const bool before = interrupts_.Interrupted();
  const bool interrupted = interrupts_.Look();
  if (interrupted && !before) terminating_ = true;
  return interrupted;
}

void TerminalView::ProcessEvents(std::chrono::milliseconds maxWait) {
  signals_.WaitFor(maxWait);
  CheckSignal();
  output_.Idle(who_);
}

// Only the update's confirmation is asked here, and it has no default: the answer is typed. The
// design's question comes after a line that names what the update changes.
bool TerminalView::AskYesNo(const std::string& text, DefaultAnswer) {
  output_.Interjecting();
  if (!facts_) return prompt_.AskYesNo(text);
  return prompt_.AskYesNo(VersionChangeText(*facts_) + "\n" + text);
}

}  // namespace vxa::cli
