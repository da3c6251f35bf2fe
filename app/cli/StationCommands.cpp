#include "app/cli/StationCommands.h"

#include <vector>

#include "app/InstrumentSelection.h"
#include "app/Station.h"
#include "app/cli/Console.h"
#include "app/cli/StationDisplay.h"
#include "app/cli/TerminalText.h"
#include "link/UsbChannel.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

// Every attached bridge. False, with the reason shown, when the listing itself failed.
bool ListAll(const StationContext& context, std::vector<BridgeInfo>* bridges) {
  const FtStatus status = ListBridges(context.backend.Driver(), bridges);
  if (status == kFtOk || status == kFtDeviceNotFound) return true;
  PrintText(context.streams.err,
            FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status)));
  context.report.outcome = Outcome::kNoDevice;
  return false;
}

void ReportNoInstrument(const StationContext& context) {
  PrintText(context.streams.err, VXA_MSG(msg::kNoDeviceConnected));
  // The backend may know why (no such port, no permission).
  const std::string cause = context.backend.Driver().LastError();
  if (!cause.empty()) PrintText(context.streams.err, cause);
  context.report.outcome = Outcome::kNoDevice;
}

Station MakeStation(const StationContext& context) {
  Backend& backend = context.backend;
  return Station(backend.Driver(),
                 [&backend](const BridgeInfo& bridge) -> Clock& { return backend.ClockOf(bridge); });
}

void PrintInformation(const StationContext& context, const Station& station) {
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (index > 0) WriteText(context.streams.out, "\n");
    PrintText(context.streams.out, BridgeLine(result.bridge));
    if (result.lines) {
      for (const std::string& line : *result.lines) PrintText(context.streams.out, line);
    } else {
      PrintText(context.streams.err,
                FormatText("%u: %s", result.bridge.index,
                           StationOutcomeText(result, Command::kInfo).c_str()));
    }
  }
}

}  // namespace

bool RunToEnd(Station& station, const std::vector<BridgeInfo>& bridges, Station::Options options,
              SignalPipe& signals, const TerminalStreams* progress) {
  // A Ctrl-C that came while the confirmation was asked has been acted on there.
  if (signals.Signal() != 0) return true;
  {
    // The instruments' threads, and the traffic threads they start, leave the signals to this one.
    SignalsBlockedForNewThreads block;
    station.Start(bridges, options, [&signals] { signals.Wake(); });
  }
  std::optional<StationDisplay> display;
  if (progress != nullptr) display.emplace(station, *progress);
  bool interrupted = false;
  for (;;) {
    const bool finished = station.Finished();
    if (display) display->Refresh();
    if (finished) break;
    signals.WaitFor(TerminalView::kRedrawInterval);
    signals.Drain();
    if (!interrupted && signals.Signal() != 0) {
      interrupted = true;
      station.Interrupt();
    }
  }
  station.Join();
  return interrupted;
}

std::string BridgeLine(const BridgeInfo& bridge) {
  return FormatText(VXA_MSG(msg::kBridgeLine), bridge.index, bridge.description.c_str(),
                    OrDash(bridge.location).c_str(), OrDash(bridge.serialNumber).c_str());
}

std::optional<BridgeInfo> SelectDevice(const StationContext& context) {
  const std::string& selector = context.options.device;
  std::vector<BridgeInfo> bridges;
  if (!ListAll(context, &bridges)) return std::nullopt;
  if (bridges.empty()) {
    ReportNoInstrument(context);
    return std::nullopt;
  }
  if (const std::optional<BridgeInfo> chosen = ListedBridgeNamed(bridges, selector)) {
    if (chosen->description == kDeviceDescription) return chosen;
    PrintText(context.streams.err, FormatText(VXA_MSG(msg::kNotTheInstrument), selector.c_str(),
                                              chosen->description.c_str()));
    context.report.outcome = Outcome::kNoDevice;
    return std::nullopt;
  }
  // A serial number is the instrument's own: only the instruments can tell it, so each is asked.
  Station station = MakeStation(context);
  if (RunToEnd(station, InstrumentBridges(bridges), {}, context.signals, nullptr)) {
    context.report.interrupted = true;
    return std::nullopt;
  }
  std::vector<BridgeInfo> matches;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (result.serialNumber == selector) matches.push_back(result.bridge);
  }
  if (matches.size() == 1) return matches.front();
  PrintText(context.streams.err,
            FormatText(VXA_MSG(matches.empty() ? msg::kNoSuchInstrument : msg::kSerialNotUnique),
                       selector.c_str()));
  context.report.outcome = Outcome::kNoDevice;
  return std::nullopt;
}

void RunStation(const StationContext& context) {
  const CliOptions& options = context.options;
  RunReport& report = context.report;
  const bool update = options.command == Command::kUpdate;
  std::vector<BridgeInfo> bridges;
  if (!ListAll(context, &bridges)) return;
  const std::vector<BridgeInfo> instruments = InstrumentBridges(bridges);
  if (instruments.empty()) {
    ReportNoInstrument(context);
    return;
  }
  if (update) {
    // One question for all of them, before any is touched.
    PrintText(context.streams.err, FormatText(VXA_MSG(msg::kStationAboutToUpdate),
                                              static_cast<int>(instruments.size())));
    TerminalView asking(context.backend.clock(), context.signals, context.streams, options.yes);
    if (!asking.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes)) {
      report.interrupted = asking.Interrupted();
      report.usageError = asking.ConfirmationRefused();
      if (!report.interrupted && !report.usageError) {
        PrintText(context.streams.err, VXA_MSG(msg::kUpdateDeclined));
      }
      report.outcome = Outcome::kDeclined;
      return;
    }
  }

  Station station = MakeStation(context);
  const Station::Options run{.job = update ? Station::Job::kUpdate : Station::Job::kSearch,
                             .log = options.log};
  report.interrupted =
      RunToEnd(station, instruments, run, context.signals, update ? &context.streams : nullptr);
  size_t succeeded = 0;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    // A log that could not be created: said once the lines of the progress are done with.
    if (!result.warning.empty()) {
      PrintText(context.streams.err,
                FormatText("%u: %s", result.bridge.index, result.warning.c_str()));
    }
    succeeded +=
        (update ? result.outcome.kind == Outcome::kUpdated : result.lines.has_value()) ? 1 : 0;
    report.kernelRequested = report.kernelRequested || result.outcome.kernelRequested;
  }
  if (update) {
    WriteText(context.streams.out, StationTable(station));
    PrintText(context.streams.out, FormatText(VXA_MSG(msg::kStationSummary),
                                              static_cast<int>(succeeded),
                                              static_cast<int>(station.Size())));
    // Each row says what an interruption left its instrument in.
    report.eachConsequenceShown = true;
  } else {
    PrintInformation(context, station);
  }
  const bool all = succeeded == station.Size();
  report.outcome = all ? (update ? Outcome::kUpdated : Outcome::kFound) : Outcome::kFailed;
}

}  // namespace vxa::cli
