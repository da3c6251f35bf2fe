// info, update and read of one instrument: the one attached, or the one --device chose.
#include <memory>
#include <optional>
#include <string>

#include "app/FileSink.h"
#include "app/InstrumentSelection.h"
#include "app/Loader.h"
#include "app/cli/Commands.h"
#include "app/cli/TerminalView.h"
#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// How the run of one instrument's command ended: the loader's outcome, unless the confirmation
// could not be asked, the user interrupted it, or something of this computer failed.
Outcome RunOutcome(Outcome outcome, const TerminalView& view, std::optional<Failure> local) {
  if (view.ConfirmationRefused()) {
    outcome.failure = Failure{FailureKind::kUsage};
  } else if (local) {
    outcome.failure = std::move(local);
  }
  if (view.Interrupted()) outcome.kind = Outcome::kInterrupted;
  return outcome;
}

// What the command does once the instrument is found: the update, or the read into the file.
std::optional<Failure> RunFound(const CommandContext& context, Loader& loader, TerminalView& view,
                                FileSink* sink) {
  const CliOptions& options = context.options;
  if (options.command == Command::kUpdate) {
    if (loader.Load().kind == Outcome::kDeclined && !view.Interrupted() &&
        !view.ConfirmationRefused()) {
      context.output.Note(VXA_MSG(msg::kUpdateDeclined));
    }
    return std::nullopt;
  }
  if (options.command != Command::kRead) return std::nullopt;
  if (loader.ReadFile(options.fileKind).kind != Outcome::kFileRead) return std::nullopt;
  view.FinishProgress();
  std::string error;
  if (!sink->Commit(&error)) {
    Failure failure{FailureKind::kLocal, error};
    context.output.Failed(failure);
    return failure;
  }
  context.output.FileSaved(options.file, sink->GetSize(), sink->ToStandardOutput());
  return std::nullopt;
}

std::optional<Failure> OpenSink(const CommandContext& context, std::unique_ptr<FileSink>* sink) {
  try {
    *sink = std::make_unique<FileSink>(context.options.file);
  } catch (const TBufferError& e) {
    Failure failure{FailureKind::kLocal, e.Text()};
    context.output.Failed(failure);
    return failure;
  }
  // With the file's bytes on standard output, everything else goes to the error stream.
  if ((*sink)->ToStandardOutput()) context.output.StandardOutputTaken();
  return std::nullopt;
}

Who WhoFor(const CommandContext& context, const std::optional<BridgeInfo>& chosen) {
  if (chosen) return {chosen->index, *chosen};
  if (!context.output.NamesBridges()) return {};
  // The search itself opens the one instrument by its description; its reader wants to know
  // which bridge that is.
  std::vector<BridgeInfo> bridges;
  if (ListBridges(context.backend.Driver(), &bridges) != kFtOk) return {};
  const std::vector<BridgeInfo> instruments = InstrumentBridges(bridges);
  if (instruments.size() != 1) return {};
  return {instruments.front().index, instruments.front()};
}

}  // namespace

CommandResult RunOnOne(const CommandContext& context, const std::optional<BridgeInfo>& chosen) {
  const CliOptions& options = context.options;
  // The file is created before the search, so that a destination that cannot be written is
  // reported before the instrument is talked to. It outlives the loader, whose connection keeps
  // a pointer to it.
  std::unique_ptr<FileSink> sink;
  if (options.command == Command::kRead) {
    if (std::optional<Failure> failure = OpenSink(context, &sink)) {
      return {Outcome(Outcome::kNone, std::move(*failure))};
    }
  }
  // One instrument chosen among several keeps time by its own clock.
  Clock& clock = chosen ? context.backend.ClockOf(*chosen) : context.backend.clock();
  TerminalView view(clock, context.signals, context.streams, options.yes, context.output,
                    WhoFor(context, chosen));
  std::optional<Loader> loader;
  {
    SignalsBlockedForNewThreads block;
    loader.emplace(view, context.backend.Driver(), clock);
  }
  view.SetInterruptHandler([&loader] { loader->Interrupt(); });
  // The loader could not set itself up (its boot image or its thread): the box has been shown.
  if (loader->LastOutcome().Failed()) {
    return {Outcome(Outcome::kNone,
                    Failure{FailureKind::kLocal, loader->LastOutcome().failure->text})};
  }
  loader->SetLogEnabled(options.log);
  loader->SetSearchBuffer(sink.get());
  if (chosen) loader->SetBridge(*chosen);

  const Outcome search = loader->Find();
  const Outcome::Kind found = search.kind;
  // The design's text asks to unplug the others; here one can be chosen instead.
  if (search.FailedAs(FailureKind::kSeveralDevices)) {
    context.output.Note(VXA_MSG(msg::kHintSeveralDevices));
  }
  // The search waits for the instrument without polling: a Ctrl-C meanwhile is seen here.
  view.ProcessEvents(std::chrono::milliseconds(0));
  std::optional<Failure> local;
  if (!view.Interrupted() && !view.Terminating() && found == Outcome::kFound) {
    local = RunFound(context, *loader, view, sink.get());
  }
  view.FinishProgress();
  Outcome outcome = loader->LastOutcome();
  outcome.kernelRequested = loader->KernelRequested();
  // The loader goes before the sink: its connection is bound to it.
  loader.reset();
  return {RunOutcome(std::move(outcome), view, std::move(local))};
}

}  // namespace vxa::cli
