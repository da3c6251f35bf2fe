#include "app/cli/CliApp.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "Version.h"
#include "app/Backend.h"
#include "app/FileSink.h"
#include "app/cli/Console.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/StationCommands.h"
#include "app/cli/TerminalText.h"
#include "text/Language.h"
#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa::cli {
namespace {

std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "vxa4410-cli";
  // Windows hands over the whole path as typed or found, with either separator.
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name;
}

// One run of a command that talks to the instrument or lists the bridges.
class CommandRun {
 public:
  CommandRun(const CliOptions& options, const TerminalStreams& streams)
      : options_(options), streams_(streams) {
    report_.command = options.command;
  }

  RunReport Run();

 private:
  bool SetUpBackend();
  void List();
  void WithLoader(const std::optional<BridgeInfo>& chosen);
  // The catalogue's texts say that no instrument was found or opened; the backend knows why
  // (no such port, no permission), and a terminal user can act on that.
  void ExplainDriverFailure() {
    const std::string cause = backend_->Driver().LastError();
    if (!cause.empty()) PrintText(streams_.err, cause);
  }
  void Fail(const std::string& text) {
    PrintText(streams_.err, text);
    report_.failed = true;
  }

  const CliOptions& options_;
  const TerminalStreams& streams_;
  RunReport report_;
  std::unique_ptr<SignalPipe> signals_;
  std::unique_ptr<Backend> backend_;
};

RunReport CommandRun::Run() {
  // Asking is impossible without a terminal: say so before anything is touched.
  if (options_.command == Command::kUpdate && !options_.yes && !streams_.inputIsTerminal) {
    PrintText(streams_.err, VXA_MSG(msg::kConfirmNeedsTerminal));
    report_.usageError = true;
    return report_;
  }
  try {
    signals_ = std::make_unique<SignalPipe>();
  } catch (const std::system_error& e) {
    Fail(e.what());
    return report_;
  }
  if (!SetUpBackend()) return report_;
  const StationContext station{options_, streams_, *backend_, *signals_, report_};
  if (options_.command == Command::kList) {
    List();
    // The listing polls nothing: a Ctrl-C meanwhile is seen only now.
    if (signals_->Signal() != 0) report_.interrupted = true;
  } else if (options_.all) {
    RunStation(station);
  } else {
    std::optional<BridgeInfo> chosen;
    if (!options_.device.empty() && !(chosen = SelectDevice(station))) return report_;
    // The view has acted on any signal it saw; one that comes after a finished update or read
    // does not make it an interrupted one.
    WithLoader(chosen);
  }
  return report_;
}

bool CommandRun::SetUpBackend() {
  BackendOptions choice;
  choice.sim = options_.sim;
  choice.driver = options_.driver;
  choice.port = options_.port;
  choice.virtualTime = options_.fast;
  choice.simInstruments = options_.simInstruments;
  choice.simFaults = options_.faults;
  std::string error;
  {
    SignalsBlockedForNewThreads block;
    backend_ = CreateBackend(choice, &error);
  }
  if (!backend_) {
    Fail(FormatText(VXA_MSG(msg::kBackendFailed), error.c_str()));
    return false;
  }
  return true;
}

void CommandRun::List() {
  FtDriver& driver = backend_->Driver();
  uint32_t count = 0;
  const FtStatus status = driver.CountDevices(&count);
  if (status != kFtOk && status != kFtDeviceNotFound) {
    Fail(FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status)));
    report_.outcome = Outcome::kFailed;
    return;
  }
  if (status == kFtDeviceNotFound) count = 0;
  PrintText(streams_.out, FormatText(VXA_MSG(msg::kDeviceCount), count));
  if (count == 0) {
    // A listing that found nothing has still done its job: the count is the answer, and the
    // hint goes where a person reads it.
    PrintText(streams_.err, VXA_MSG(msg::kNoDeviceConnected));
    ExplainDriverFailure();
    report_.outcome = Outcome::kFound;
    return;
  }
  for (uint32_t index = 0; index < count; ++index) {
    BridgeInfo bridge;
    const FtStatus described = driver.DescribeDevice(index, &bridge);
    if (described != kFtOk) {
      Fail(FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(described)));
      report_.outcome = Outcome::kFailed;
      return;
    }
    PrintText(streams_.out, BridgeLine(bridge));
  }
  report_.outcome = Outcome::kFound;
}

void CommandRun::WithLoader(const std::optional<BridgeInfo>& chosen) {
  // The file is created before the search, so that a destination that cannot be written is
  // reported before the instrument is talked to. It outlives the loader, whose connection keeps
  // a pointer to it.
  std::unique_ptr<FileSink> sink;
  if (options_.command == Command::kRead) {
    try {
      sink = std::make_unique<FileSink>(options_.file);
    } catch (const TBufferError& e) {
      Fail(e.Text());
      return;
    }
  }
  // With the file's bytes on standard output, everything the view says goes to the error stream.
  TerminalStreams viewStreams = streams_;
  if (sink != nullptr && sink->ToStandardOutput()) viewStreams.out = streams_.err;
  // One instrument chosen among several keeps time by its own clock.
  Clock& clock = chosen ? backend_->ClockOf(*chosen) : backend_->clock();
  TerminalView view(clock, *signals_, viewStreams, options_.yes);
  std::optional<Loader> loader;
  {
    SignalsBlockedForNewThreads block;
    loader.emplace(view, backend_->Driver(), clock);
  }
  view.SetInterruptHandler([&loader] { loader->Interrupt(); });
  // The loader could not set itself up (its boot image or its thread): the box has been shown.
  if (loader->LastOutcome().Failed()) {
    report_.failed = true;
    return;
  }
  loader->SetLogEnabled(options_.log);
  loader->SetSearchBuffer(sink.get());
  if (chosen) loader->SetBridge(*chosen);

  const Outcome::Kind found = loader->Find().kind;
  // No instrument, or a bridge or port that could not be listed or used: the driver knows why.
  if (found == Outcome::kNoDevice || found == Outcome::kFailed) ExplainDriverFailure();
  // The search waits for the instrument without polling: a Ctrl-C meanwhile is seen here.
  view.ProcessEvents(std::chrono::milliseconds(0));
  if (!view.Interrupted() && !view.Terminating() && found == Outcome::kFound) {
    if (options_.command == Command::kUpdate) {
      if (loader->Load().kind == Outcome::kDeclined && !view.Interrupted() &&
          !view.ConfirmationRefused()) {
        PrintText(streams_.err, VXA_MSG(msg::kUpdateDeclined));
      }
    } else if (options_.command == Command::kRead) {
      if (loader->ReadFile(options_.fileKind).kind == Outcome::kFileRead) {
        view.FinishProgress();
        std::string error;
        if (sink->Commit(&error)) {
          // The file's own bytes went to standard output: the report must not join them.
          PrintText(sink->ToStandardOutput() ? streams_.err : streams_.out,
                    FormatText(VXA_MSG(msg::kFileSaved), options_.file.c_str(), sink->GetSize()));
        } else {
          Fail(error);
        }
      }
    }
  }
  view.FinishProgress();
  report_.outcome = loader->LastOutcome().kind;
  report_.interrupted = view.Interrupted();
  report_.usageError = report_.usageError || view.ConfirmationRefused();
  report_.kernelRequested = loader->KernelRequested();
  // The loader goes before the sink: its connection is bound to it.
  loader.reset();
}

}  // namespace

ExitCode DecideExitCode(const RunReport& report) {
  Outcome outcome(report.outcome);
  if (report.usageError) {
    outcome.failure = Failure{FailureKind::kUsage};
  } else if (report.interrupted) {
    outcome.failure = Failure{FailureKind::kInterrupted};
  } else if (report.failed) {
    outcome.failure = Failure{FailureKind::kLocal};
  }
  static constexpr Asked kAsked[] = {Asked::kInfo, Asked::kList, Asked::kInfo, Asked::kUpdate,
                                     Asked::kRead};
  return static_cast<ExitCode>(ExitStatus(outcome, kAsked[static_cast<size_t>(report.command)]));
}

const char* InterruptionConsequence(const RunReport& report) {
  if (report.kernelRequested) return VXA_MSG(msg::kInstallUnderWay);
  // A read changes nothing on the instrument, whenever it stops: no word of firmware or install.
  if (report.command == Command::kRead) return VXA_MSG(msg::kInstrumentUnchanged);
  return VXA_MSG(msg::kFirmwareUntouched);
}

int RunCli(int argc, char* argv[], const TerminalStreams& streams) {
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
  SetMessageLanguage(ChooseMessageLanguage(
      LanguageOption(argc, argv), [](const char* name) -> const char* { return std::getenv(name); }));
  const ParsedCommandLine parsed = ParseCliArguments(argc, argv);
  if (!parsed.error.empty()) {
    // One line a script's log can hold; the whole help only where it is asked for.
    WriteText(streams.err, program + ": " + parsed.error + " " +
                               FormatText(VXA_MSG(msg::kTryHelp), program.c_str()) + "\n");
    return kExitUsage;
  }
  if (parsed.options.help) {
    WriteText(streams.out, FormatText(VXA_MSG(msg::kCliUsage), program.c_str()));
    return kExitSuccess;
  }
  if (parsed.options.version) {
    WriteText(streams.out, program + " " + VXA_PRODUCT_VERSION + "\n");
    return kExitSuccess;
  }

  const RunReport report = CommandRun(parsed.options, streams).Run();
  const ExitCode code = DecideExitCode(report);
  if (code == kExitInterrupted) {
    PrintText(streams.err, VXA_MSG(msg::kAbortedByUser));
    if (!report.eachConsequenceShown) PrintText(streams.err, InterruptionConsequence(report));
  }
  return code;
}

}  // namespace vxa::cli
