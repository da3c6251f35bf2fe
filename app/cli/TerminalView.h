#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/LoaderView.h"
#include "app/cli/Console.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/Output.h"
#include "app/cli/Prompt.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/TerminalStreams.h"
#include "link/Clock.h"

namespace vxa::cli {

// The loader of one instrument as the terminal program runs it: what the loader tells goes to the
// program's output, the confirmation is asked on the terminal, and waiting is a wait on the
// signal channel, which the traffic thread's Wake and Ctrl-C both write to.
class TerminalView final : public LoaderView {
 public:
  static constexpr std::chrono::milliseconds kRedrawInterval = cli::kRedrawInterval;

  // Tells `output` what happened to the instrument `who`.
  TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams, bool assumeYes,
               Output& output, Who who = {});
  // The same through a text output of its own on `streams`.
  TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams, bool assumeYes);
  ~TerminalView() override;

  // Called on the main thread, from ProcessEvents or the confirmation, when Ctrl-C (or SIGTERM)
  // has arrived: the front end stops the transfer there.
  void SetInterruptHandler(std::function<void()> handler) {
    interrupts_.SetHandler(std::move(handler));
  }
  // Ends the progress so that whatever follows starts on a line of its own, and gives the
  // terminal its typing back (what was typed meanwhile is thrown away).
  void FinishProgress();

  bool Interrupted() const { return interrupts_.Interrupted(); }
  bool ConfirmationRefused() const { return prompt_.Refused(); }

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
  TerminalView(Clock& clock, SignalPipe& signals, TerminalStreams streams, bool assumeYes,
               std::unique_ptr<Output> own, Output* output, Who who);
  // Looks at the signal channel; acts on a signal the first time it is seen.
  bool CheckSignal();

  SignalPipe& signals_;
  const TerminalStreams streams_;
  std::unique_ptr<Output> ownOutput_;
  Output& output_;
  Who who_;
  InterruptWatch interrupts_;
  Prompt prompt_;
  bool terminating_ = false;
  // The instrument found, for the confirmation to name what the update changes.
  std::optional<InstrumentFacts> facts_;
  // While the stages run, what is typed neither shows nor stays for the shell.
  std::optional<TypedInputHidden> typingHidden_;
};

}  // namespace vxa::cli
