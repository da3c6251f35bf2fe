#pragma once

#include "app/cli/TerminalStreams.h"

namespace vxa::cli {

// The whole program: parses the command line, runs the command, reports and returns the status.
int RunCli(int argc, char* argv[], const TerminalStreams& streams);

}  // namespace vxa::cli
