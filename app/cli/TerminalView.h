#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "app/LoaderView.h"
#include "app/cli/Console.h"
#include "app/cli/ProgressMeter.h"
#include "app/cli/SignalPipe.h"
#include "link/Clock.h"

namespace vxa::cli {

// Where the terminal view writes and reads, and what it may assume about them.
struct TerminalStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int inputFd = 0;
  bool inputIsTerminal = false;
  bool errIsTerminal = false;
};

// The search and the update shown on a terminal: the four information lines and the information
// boxes on stdout, warnings, errors and the progress on stderr, the confirmation read from the
// terminal. Waiting is a wait on the signal channel, which the traffic thread's Wake and Ctrl-C
// both write to.
class TerminalView final : public LoaderView {
 public:
  // Redraws of the progress line are at least this far apart (real time).
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams, bool assumeYes);

  // Called on the main thread, from ProcessEvents or the confirmation, when Ctrl-C (or SIGTERM)
  // has arrived: the front end stops the transfer there.
  void SetInterruptHandler(std::function<void()> handler) { onInterrupt_ = std::move(handler); }
  // Ends the progress line so that whatever follows starts on a line of its own, and gives the
  // terminal its typing back (what was typed meanwhile is thrown away).
  void FinishProgress();

  bool Interrupted() const { return interrupted_; }
  // The confirmation could not be asked: no terminal to ask on, and no --yes.
  bool ConfirmationRefused() const { return confirmationRefused_; }

  void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) override;
  void StageChanged(Stage stage, const std::string& text) override;
  void ProgressChanged(const Progress& progress) override;
  void VersionWaitChanged(const Waited& waited) override;
  void ShowReport(const Report& report) override;
  void DiagnosticsUnavailable(const std::string& text) override;
  void NewFirmwareReported(const std::string& programVersion,
                           const std::optional<LocalDateTime>& clockSet) override;
  bool AskYesNo(const std::string& text, DefaultAnswer byDefault) override;

  void ProcessEvents(std::chrono::milliseconds maxWait) override;
  void Wake() override { signals_.Wake(); }
  void Terminate() override { terminating_ = true; }
  bool Terminating() const override { return terminating_; }

 private:
  void Print(std::FILE* stream, const std::string& text);
  void Redraw(bool stageChanged);
  // Draws the progress line as it stands now, however recently it was drawn.
  void DrawLine();
  void BreakProgressLine();
  // Looks at the signal pipe; acts on a signal the first time it is seen.
  void CheckSignal();
  // One line typed on the input, waiting also for Ctrl-C. Nothing at the end of the input or on
  // an interrupt.
  bool ReadAnswerLine(std::string* line);

  Clock& clock_;
  SignalPipe& signals_;
  TerminalStreams streams_;
  const bool assumeYes_;
  std::function<void()> onInterrupt_;

  bool terminating_ = false;
  bool interrupted_ = false;
  bool confirmationRefused_ = false;

  // The progress as the loader last gave it.
  std::string stage_;
  std::string label_;
  int total_ = 0;
  int position_ = 0;
  // A read's total is what has arrived so far: the instrument does not announce a file's size.
  bool reading_ = false;
  ProgressMeter meter_;
  bool lineDrawn_ = false;
  std::string drawn_;  // the progress line as last drawn
  // While the stages run, what is typed neither shows nor stays for the shell.
  std::optional<TypedInputHidden> typingHidden_;
  std::chrono::steady_clock::time_point lastRedraw_{};
};

}  // namespace vxa::cli
