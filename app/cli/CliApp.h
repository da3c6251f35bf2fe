#pragma once

#include "app/Loader.h"
#include "app/cli/CliOptions.h"
#include "app/cli/TerminalView.h"

namespace vxa::cli {

// The program's exit status: what scripts and production lines look at.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailed = 1,    // the operation failed; its text is on stderr
  kExitUsage = 2,     // the command line, or a confirmation that could not be asked
  kExitNoDevice = 3,  // no instrument, more than one, or no such port
  kExitInterrupted = 130,
};

// What happened in one run, gathered as it goes; the exit status is decided from it alone.
struct RunReport {
  Command command = Command::kNone;
  Outcome outcome = Outcome::kNone;  // the loader's last outcome, or the listing's own
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
