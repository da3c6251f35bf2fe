#include "app/cli/CliApp.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>

#include "app/Backend.h"
#include "app/FileSink.h"
#include "app/VersionText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Help.h"
#include "app/cli/JsonOutput.h"
#include "app/cli/RecordOutput.h"
#include "app/cli/TextOutput.h"
#include "text/Language.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "vxa4410-cli";
  // Windows hands over the whole path as typed or found, with either separator.
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name;
}

CommandResult Refused(Output& output, Failure failure) {
  output.Failed(failure);
  return {Outcome(Outcome::kNone, std::move(failure))};
}

// What every command that talks to the instrument or lists the bridges needs first: the signal
// channel and the backend. `recorder` takes the command's record while the backend, whose clocks
// its events keep time by, is still there.
CommandResult Run(const CommandEntry& entry, const CliOptions& options,
                  const TerminalStreams& streams, Output& output, RecordOutput* recorder) {
  if (entry.executeOffline != nullptr) return entry.executeOffline(options, output);
  // Asking is impossible without a terminal: say so before anything is touched.
  if (options.command == Command::kUpdate && !options.yes && !streams.inputIsTerminal) {
    return Refused(output, {FailureKind::kUsage, VXA_MSG(msg::kConfirmNeedsTerminal)});
  }
  // A file's bytes would garble the terminal, and the instrument need not be touched to say so.
  if (options.command == Command::kRead && options.file == FileSink::kStandardOutput &&
      streams.outIsTerminal) {
    return Refused(output, {FailureKind::kUsage, VXA_MSG(msg::kReadToTerminal)});
  }
  std::unique_ptr<SignalPipe> signals;
  try {
    signals = std::make_unique<SignalPipe>();
  } catch (const std::system_error& e) {
    return Refused(output, {FailureKind::kLocal, e.what()});
  }
  std::string error;
  std::unique_ptr<Backend> backend;
  {
    SignalsBlockedForNewThreads block;
    backend = CreateBackend(BackendOptionsOf(options), &error);
  }
  if (!backend) {
    return Refused(output,
                   {FailureKind::kLocal, FormatText(VXA_MSG(msg::kBackendFailed), error.c_str())});
  }
  const CommandContext context{options, streams, *backend, *signals, output};
  CommandResult result = entry.execute(context);
  if (recorder != nullptr) recorder->Conclude(result.outcome);
  return result;
}

int Ended(Output& output, Asked asked, const CommandResult& result, bool recordLost = false) {
  int status = ExitStatus(result.outcome, asked);
  if (recordLost && status == kExitSuccess) status = kExitFailed;
  output.RunEnded({asked, result.outcome, status, result.eachConsequenceShown});
  return status;
}

}  // namespace

CommandResult ExecuteList(const CommandContext& context) {
  FtDriver& driver = context.backend.Driver();
  auto failed = [&](FtStatus status) {
    return Refused(context.output, {FailureKind::kListingFailed,
                                    FormatText(VXA_MSG(msg::kSearchFailedStatus),
                                               static_cast<int>(status))});
  };
  uint32_t count = 0;
  const FtStatus status = driver.CountDevices(&count);
  if (status != kFtOk && status != kFtDeviceNotFound) return failed(status);
  if (status == kFtDeviceNotFound) count = 0;
  context.output.BridgeCount(count);
  if (count == 0) {
    // A listing that found nothing has still done its job: the count is the answer, and the
    // hint goes where a person reads it.
    context.output.Note(VXA_MSG(msg::kNoDeviceConnected));
    const std::string cause = driver.LastError();
    if (!cause.empty()) context.output.Note(cause);
  }
  for (uint32_t index = 0; index < count; ++index) {
    BridgeInfo bridge;
    const FtStatus described = driver.DescribeDevice(index, &bridge);
    if (described != kFtOk) return failed(described);
    context.output.BridgeListed(bridge);
  }
  // The listing polls nothing: a Ctrl-C meanwhile is seen only now.
  return {Outcome(context.signals.Signal() != 0 ? Outcome::kInterrupted : Outcome::kFound)};
}

CommandResult ExecuteOnInstruments(const CommandContext& context) {
  const CliOptions& options = context.options;
  if (options.all) return RunStation(context);
  std::optional<BridgeInfo> chosen;
  if (!options.device.empty()) {
    CommandResult ended;
    if (!(chosen = SelectDevice(context, &ended))) return ended;
  }
  return RunOnOne(context, chosen);
}

int RunCli(int argc, char* argv[], const TerminalStreams& streams) {
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
  SetMessageLanguage(ChooseMessageLanguage(
      LanguageOption(argc, argv), [](const char* name) -> const char* { return std::getenv(name); }));
  const ParsedCommandLine parsed = ParseCliArguments(argc, argv);
  if (parsed.error.empty() && parsed.options.help) {
    WriteText(streams.out, CliHelp(program));
    return kExitSuccess;
  }
  if (parsed.error.empty() && parsed.options.version) {
    WriteText(streams.out, VersionText(program));
    return kExitSuccess;
  }
  const CommandEntry* entry = FindCommand(parsed.options.command);
  std::unique_ptr<Output> output;
  if (JsonOption(argc, argv)) {
    output = std::make_unique<JsonOutput>(streams, program, entry != nullptr ? entry->name : "");
  } else {
    output = std::make_unique<TextOutput>(streams);
  }
  if (!parsed.error.empty()) {
    // One line a script's log can hold; the whole help only where it is asked for.
    output->Failed({FailureKind::kUsage, program + ": " + parsed.error + " " +
                                             FormatText(VXA_MSG(msg::kTryHelp), program.c_str())});
    const Outcome usage(Outcome::kNone, Failure{FailureKind::kUsage});
    output->RunEnded({Asked::kInfo, usage, kExitUsage});
    return kExitUsage;
  }
  // The record file is opened before anything else is touched: a record that cannot be kept
  // stops the update before it starts.
  RecordOutput* recorder = nullptr;
  if (!parsed.options.record.empty()) {
    Failure failure;
    std::unique_ptr<AppendFile> file = OpenRecordFile(parsed.options.record, &failure);
    if (!file) return Ended(*output, entry->asked, {Refused(*output, std::move(failure)).outcome});
    auto recording =
        std::make_unique<RecordOutput>(std::move(output), std::move(file), parsed.options.record);
    recorder = recording.get();
    output = std::move(recording);
  }
  const CommandResult result = Run(*entry, parsed.options, streams, *output, recorder);
  // A record lost is a failure of the run, whatever the instrument did.
  return Ended(*output, entry->asked, result, recorder != nullptr && recorder->Lost());
}

}  // namespace vxa::cli
