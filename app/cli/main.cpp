#include <unistd.h>

#include <cstdio>

#include "app/cli/CliApp.h"

int main(int argc, char* argv[]) {
  vxa::cli::TerminalStreams streams;
  streams.out = stdout;
  streams.err = stderr;
  streams.inputFd = STDIN_FILENO;
  streams.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
  streams.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  return vxa::cli::RunCli(argc, argv, streams);
}
