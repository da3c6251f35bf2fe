#pragma once

#include "app/Loader.h"
#include "app/Outcome.h"
#include "app/cli/CliOptions.h"
#include "app/cli/TerminalView.h"

namespace vxa::cli {

using vxa::ExitCode;
using vxa::kExitFailed;
using vxa::kExitInterrupted;
using vxa::kExitNoDevice;
using vxa::kExitSuccess;
using vxa::kExitUsage;

// What happened in one run, gathered as it goes; the exit status is decided from it alone.
struct RunReport {
  Command command = Command::kNone;
  Outcome::Kind outcome = Outcome::kNone;  // the loader's last outcome, or the listing's own
  bool usageError = false;
  bool interrupted = false;
  bool failed = false;  // something outside the loader failed (the file, the driver set-up)
  bool kernelRequested = false;
  // Several instruments: each one's row has said what an interruption left it in.
  bool eachConsequenceShown = false;
};

ExitCode DecideExitCode(const RunReport& report);

// The line printed after "Прервано пользователем": whether the instrument was changed, or is
// installing.
const char* InterruptionConsequence(const RunReport& report);

// The whole program: parses the command line, runs the command, reports and returns the status.
int RunCli(int argc, char* argv[], const TerminalStreams& streams);

}  // namespace vxa::cli
