// The commands for several instruments attached at once: --device picks one of them for info,
// update or read; info --all and update --all take every one, each on its own connection.
#include <vector>

#include "app/InstrumentSelection.h"
#include "app/Station.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Prompt.h"
#include "app/cli/StationDisplay.h"
#include "app/cli/TerminalText.h"
#include "app/cli/InterruptWatch.h"
#include "link/UsbChannel.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

CommandResult NoDevice(const CommandContext& context, const std::string& text) {
  Failure failure{FailureKind::kNoDevice, text};
  context.output.Failed(failure);
  return {Outcome(Outcome::kNoDevice, std::move(failure))};
}

// Every attached bridge. False, with the reason shown, when the listing itself failed.
bool ListAll(const CommandContext& context, std::vector<BridgeInfo>* bridges,
             CommandResult* ended) {
  const FtStatus status = ListBridges(context.backend.Driver(), bridges);
  if (status == kFtOk || status == kFtDeviceNotFound) return true;
  Failure failure{FailureKind::kListingFailed,
                  FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status))};
  context.output.Failed(failure);
  *ended = {Outcome(Outcome::kNoDevice, std::move(failure))};
  return false;
}

CommandResult NoInstrument(const CommandContext& context) {
  CommandResult ended = NoDevice(context, VXA_MSG(msg::kNoDeviceConnected));
  // The backend may know why (no such port, no permission).
  const std::string cause = context.backend.Driver().LastError();
  if (!cause.empty()) context.output.Note(cause);
  return ended;
}

Station MakeStation(const CommandContext& context) {
  Backend& backend = context.backend;
  return Station(backend.Driver(),
                 [&backend](const BridgeInfo& bridge) -> Clock& { return backend.ClockOf(bridge); });
}

// The confirmation's lines, one per instrument: where it is and what its update changes, or why
// it could not tell. Nothing when the search was interrupted.
std::optional<std::string> InstrumentLines(const CommandContext& context,
                                           const std::vector<BridgeInfo>& instruments) {
  Station station = MakeStation(context);
  if (RunToEnd(station, instruments, {}, context.signals, nullptr)) return std::nullopt;
  std::string lines;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    lines += FormatText("%u %s: ", result.bridge.index, PortOf(result.bridge).c_str());
    lines += result.facts ? VersionChangeText(*result.facts)
                          : StationOutcomeText(result, Asked::kInfo);
    lines += '\n';
  }
  return lines;
}

}  // namespace

std::optional<CommandResult> ConfirmStation(const CommandContext& context,
                                           const std::string& note, const std::string& lines) {
  context.output.Note(note);
  InterruptWatch interrupts(context.signals);
  Prompt prompt(context.signals, context.streams, context.options.yes,
                [&interrupts] { return interrupts.Look(); });
  context.output.Interjecting();
  if (prompt.AskYesNo(lines + StringTableText(str::kConfirmLoad))) return std::nullopt;
  Outcome declined(Outcome::kDeclined);
  if (interrupts.Interrupted()) {
    declined.kind = Outcome::kInterrupted;
  } else if (prompt.Refused()) {
    declined.failure = Failure{FailureKind::kUsage};
  } else {
    context.output.Note(VXA_MSG(msg::kUpdateDeclined));
  }
  return CommandResult{declined};
}

bool RunToEnd(Station& station, const std::vector<BridgeInfo>& bridges, Station::Options options,
              SignalPipe& signals, Output* output) {
  // A Ctrl-C that came while the confirmation was asked has been acted on there.
  if (signals.Signal() != 0) return true;
  {
    // The instruments' threads, and the traffic threads they start, leave the signals to this one.
    SignalsBlockedForNewThreads block;
    station.Start(bridges, options, [&signals] { signals.Wake(); });
  }
  bool interrupted = false;
  for (;;) {
    const bool finished = station.Finished();
    if (output != nullptr) output->StationLooked(station);
    if (finished) break;
    signals.WaitFor(kRedrawInterval);
    signals.Drain();
    if (!interrupted && signals.Signal() != 0) {
      interrupted = true;
      station.Interrupt();
    }
  }
  station.Join();
  return interrupted;
}

std::optional<BridgeInfo> SelectDevice(const CommandContext& context, CommandResult* ended) {
  const std::string& selector = context.options.device;
  std::vector<BridgeInfo> bridges;
  if (!ListAll(context, &bridges, ended)) return std::nullopt;
  if (bridges.empty()) {
    *ended = NoInstrument(context);
    return std::nullopt;
  }
  if (const std::optional<BridgeInfo> chosen = ListedBridgeNamed(bridges, selector)) {
    if (chosen->description == kDeviceDescription) return chosen;
    *ended = NoDevice(context, FormatText(VXA_MSG(msg::kNotTheInstrument), selector.c_str(),
                                          chosen->description.c_str()));
    return std::nullopt;
  }
  // A serial number is the instrument's own: only the instruments can tell it, so each is asked.
  Station station = MakeStation(context);
  if (RunToEnd(station, InstrumentBridges(bridges), {}, context.signals, nullptr)) {
    *ended = {Outcome(Outcome::kInterrupted)};
    return std::nullopt;
  }
  std::vector<BridgeInfo> matches;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (result.serialNumber == selector) matches.push_back(result.bridge);
  }
  if (matches.size() == 1) return matches.front();
  *ended = NoDevice(context, FormatText(VXA_MSG(matches.empty() ? msg::kNoSuchInstrument
                                                                : msg::kSerialNotUnique),
                                        selector.c_str()));
  return std::nullopt;
}

CommandResult RunStation(const CommandContext& context) {
  if (context.options.watch) return RunWatch(context);
  const bool update = context.options.command == Command::kUpdate;
  std::vector<BridgeInfo> bridges;
  CommandResult ended;
  if (!ListAll(context, &bridges, &ended)) return ended;
  const std::vector<BridgeInfo> instruments = InstrumentBridges(bridges);
  if (instruments.empty()) return NoInstrument(context);
  if (update) {
    const std::string note =
        FormatText(VXA_MSG(msg::kStationAboutToUpdate), static_cast<int>(instruments.size()));
    // The question names what changes: each instrument is asked who it is first, but only when
    // someone is there to read the answer.
    std::optional<std::string> lines = std::string();
    if (!context.options.yes && context.streams.inputIsTerminal) {
      lines = InstrumentLines(context, instruments);
      if (!lines) return {Outcome(Outcome::kInterrupted)};
    }
    if (std::optional<CommandResult> declined = ConfirmStation(context, note, *lines)) {
      return *declined;
    }
  }

  Station station = MakeStation(context);
  const Station::Options run{.job = update ? Station::Job::kUpdate : Station::Job::kSearch,
                             .log = context.options.log};
  const bool interrupted =
      RunToEnd(station, instruments, run, context.signals, update ? &context.output : nullptr);
  size_t succeeded = 0;
  bool kernelRequested = false;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    succeeded +=
        (update ? result.outcome.kind == Outcome::kUpdated : result.lines.has_value()) ? 1 : 0;
    kernelRequested = kernelRequested || result.outcome.kernelRequested;
  }
  context.output.StationEnded(station, update, succeeded);
  const bool all = succeeded == station.Size();
  Outcome outcome(all ? (update ? Outcome::kUpdated : Outcome::kFound) : Outcome::kFailed);
  if (interrupted) outcome.kind = Outcome::kInterrupted;
  outcome.kernelRequested = kernelRequested;
  // Each row of an update's table says what an interruption left its instrument in.
  return {outcome, update};
}

}  // namespace vxa::cli
