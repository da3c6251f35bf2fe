#include <cstdio>

#include "app/cli/CliApp.h"
#include "app/cli/Console.h"

int main(int argc, char* argv[]) {
  vxa::cli::TerminalStreams streams;
  streams.out = stdout;
  streams.err = stderr;
  streams.inputFd = 0;
  streams.inputIsTerminal = vxa::cli::IsTerminal(0);
  streams.errIsTerminal = vxa::cli::IsTerminal(2);
  streams.outIsTerminal = vxa::cli::IsTerminal(1);
  return vxa::cli::RunCli(argc, argv, streams);
}
