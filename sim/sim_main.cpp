// vxa4410-sim: the simulated instrument on a pseudo-terminal. The first line on stdout is the
// port to give the program (vxa4410-cli --port PATH, vxa4410-loader -port PATH); the server then
// answers on it, as an instrument that stays plugged in, until it is stopped (or, with --once,
// until the program has closed the port).

#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "base/UniqueFd.h"
#include "link/FtDriver.h"
#include "sim/FaultArgument.h"
#include "sim/PtyServer.h"

namespace {

using vxa::sim::PtyServer;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// An install longer than an hour is a typing mistake, not a simulation.
constexpr double kMaxInstallSeconds = 3600;

constexpr const char* kUsage =
    "usage: vxa4410-sim [--fault NAME[:count[:skip[:value[:command]]]]]... [--install-time "
    "SECONDS] [--no-cts]\n"
    "                   [--once] [--swap-out FILE]\n";

void PrintHelp() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\n"
      "Serves a simulated VXA-4410 on a pseudo-terminal. The first line on stdout is the\n"
      "port's path; give it to the other program:\n"
      "  vxa4410-cli --port PATH info        vxa4410-loader -port PATH\n"
      "The line is played in real time: 11 bits per byte at 3,000,000 baud in both directions,\n"
      "the 2 ms latency timer on the tail of each answer.\n"
      "\n"
      "  --fault FAULT         inject a fault (repeatable). FAULT is NAME[:count[:skip[:value\n"
      "                        [:command]]]]: count -1 fires for ever, skip lets that many\n"
      "                        occasions pass first, value is the fault's parameter, command\n"
      "                        keeps it to one command code (e.g. 0x35). Empty fields keep the\n"
      "                        defaults. Example: --fault corrupt-read-back:1:0:1000\n"
      "  --install-time SECONDS  how long the instrument takes to install an image (default 5)\n"
      "  --no-cts              an instrument that cannot hold the line back with CTS: the\n"
      "                        program would then choose 1,500,000 baud, and the line runs at\n"
      "                        that rate (a pty carries no modem lines, so the program itself\n"
      "                        always reads them low)\n"
      "  --once                end when the program has closed the port and not reopened it\n"
      "                        within a second (otherwise the port stays, at the same path,\n"
      "                        for any number of runs)\n"
      "  --swap-out FILE       when it ends, write what the instrument stored as its \"swap\"\n"
      "                        file (the image last written to it; empty if none) to FILE\n"
      "  --help, --version\n"
      "\n"
      "It ends, with exit code 0, on SIGINT or SIGTERM, when an injected unplug takes the\n"
      "instrument away, or (--once) when the program has closed the port for good. Its last\n"
      "line on stderr counts the commands taken, the answers sent, the answers dropped (not\n"
      "sent, or lost on the line, other than during the install), the broken commands it\n"
      "dropped, the blocks sent twice in either direction and the faults fired.\n"
      "Exit code 1: the pseudo-terminal failed or FILE could not be written; 2: a usage error.\n"
      "\nFaults:",
      stdout);
  int column = 80;
  for (const vxa::sim::Fault fault : vxa::sim::AllFaults()) {
    const std::string_view name = vxa::sim::FaultName(fault);
    if (column + 1 + static_cast<int>(name.size()) > 78) {
      std::fputs("\n ", stdout);
      column = 1;
    }
    std::printf(" %.*s", static_cast<int>(name.size()), name.data());
    column += 1 + static_cast<int>(name.size());
  }
  std::fputs("\n", stdout);
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "vxa4410-sim: %s\n%s", text.c_str(), kUsage);
  return kExitUsage;
}

bool ParseSeconds(std::string_view text, vxa::Clock::Duration* duration) {
  double seconds = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (!(seconds >= 0 && seconds <= kMaxInstallSeconds)) return false;
  *duration = vxa::Clock::Duration(static_cast<int64_t>(seconds * 1e6));
  return true;
}

// "--name VALUE" or "--name=VALUE". Returns false when `arg` is not that option.
bool TakeValue(std::string_view name, int argc, char* argv[], int* i, std::string_view* value,
               bool* missing) {
  const std::string_view arg = argv[*i];
  if (arg == name) {
    if (*i + 1 >= argc) {
      *missing = true;
      return true;
    }
    *value = argv[++*i];
    return true;
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

// "1 fault", "2 faults".
std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Summary(PtyServer& server) {
  const vxa::sim::ProtocolCounters& counters = server.model().counters();
  uint64_t faultsFired = 0;
  for (const uint64_t fired : counters.faultsFired) faultsFired += fired;
  const uint64_t dropped =
      counters.AnswersWithheld() + server.line().counters().answersLostInBabble;
  return Count(counters.commands, "command", "commands") + " taken, " +
         Count(counters.answersSent, "answer", "answers") + " sent, " +
         Count(dropped, "answer", "answers") + " dropped, " +
         Count(counters.badCommands, "broken command", "broken commands") + " dropped, " +
         Count(counters.blocksResent, "block", "blocks") + " resent, " +
         Count(faultsFired, "fault", "faults") + " fired; program version " +
         server.ProgramVersion();
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Writes all of `bytes` and closes the file; false with the reason in `error`.
bool WriteAndClose(File file, const std::vector<uint8_t>& bytes, std::string* error) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) *error = std::strerror(written ? errno : writeErrno);
  return written && closed;
}

const char* EndText(PtyServer::End end) {
  switch (end) {
    case PtyServer::End::kStopped:
      return "stopped";
    case PtyServer::End::kHungUp:
      return "the program closed the port";
    case PtyServer::End::kUnplugged:
      return "the instrument was unplugged (injected fault)";
    case PtyServer::End::kFailed:
      return "the pseudo-terminal failed";
  }
  return "?";
}

// The command line into `options` and `swapOut`: an exit code when the program is to end at
// once (help, version, a usage error).
std::optional<int> ParseArguments(int argc, char* argv[], PtyServer::Options* options,
                                  std::string* swapOut) {
  bool cts = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string_view value;
    bool missing = false;
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("vxa4410-sim %s\n", VXA_PRODUCT_VERSION);
      return kExitOk;
    }
    if (arg == "--no-cts") {
      cts = false;
    } else if (arg == "--once") {
      options->once = true;
    } else if (TakeValue("--swap-out", argc, argv, &i, &value, &missing)) {
      if (missing || value.empty()) return UsageError("--swap-out needs a file name");
      *swapOut = value;
    } else if (TakeValue("--fault", argc, argv, &i, &value, &missing)) {
      if (missing) return UsageError("--fault needs NAME[:count[:skip[:value[:command]]]]");
      vxa::sim::FaultSpec faultSpec{.fault = vxa::sim::Fault::DropAnswer};
      std::string error;
      if (!vxa::sim::ParseFaultArgument(value, &faultSpec, &error)) return UsageError(error);
      options->faults.push_back(faultSpec);
    } else if (TakeValue("--install-time", argc, argv, &i, &value, &missing)) {
      if (missing || !ParseSeconds(value, &options->instrument.installTime)) {
        return UsageError("--install-time needs a number of seconds from 0 to 3600");
      }
    } else {
      return UsageError("unknown argument \"" + std::string(arg) + "\"");
    }
  }
  options->instrument.cts = cts;
  // Without CTS the program halves the rate to spare the instrument's receiver (divisor 2).
  options->line.baud = vxa::BaudRateOfDivisor(cts ? vxa::kFtDivisor3M : vxa::kFtDivisor1M5);
  return std::nullopt;
}

// The stop signals as a descriptor the poll loop waits on, not handled asynchronously. A reader
// of stdout that went away must not kill the server either. Not open when that failed.
vxa::UniqueFd StopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
    std::perror("vxa4410-sim: sigprocmask");
    return vxa::UniqueFd();
  }
  std::signal(SIGPIPE, SIG_IGN);
  vxa::UniqueFd stop(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!stop.IsOpen()) std::perror("vxa4410-sim: signalfd");
  return stop;
}

// The summary once the server has ended, and the stored "swap" into its file; the exit code.
int Finish(PtyServer& server, PtyServer::End end, File swapFile, const std::string& swapOut) {
  std::fprintf(stderr, "vxa4410-sim: %s; %s\n", EndText(end), Summary(server).c_str());
  int exitCode = kExitOk;
  if (end == PtyServer::End::kFailed) {
    std::fprintf(stderr, "vxa4410-sim: %s\n", server.LastError().c_str());
    exitCode = kExitFailed;
  }
  if (swapFile) {
    const std::vector<uint8_t> swap =
        server.model().FileContent(vxa::kFileKindNames[vxa::kFileSwap]);
    std::string error;
    if (!WriteAndClose(std::move(swapFile), swap, &error)) {
      std::fprintf(stderr, "vxa4410-sim: cannot write %s: %s\n", swapOut.c_str(), error.c_str());
      exitCode = kExitFailed;
    }
  }
  return exitCode;
}

}  // namespace

int main(int argc, char* argv[]) {
  PtyServer::Options options;
  std::string swapOut;
  if (const std::optional<int> exitCode = ParseArguments(argc, argv, &options, &swapOut)) {
    return *exitCode;
  }
  const vxa::UniqueFd stop = StopSignals();
  if (!stop.IsOpen()) return kExitFailed;

  // Opened now, so that a path that cannot be written is known before anything is served.
  File swapFile;
  if (!swapOut.empty()) {
    swapFile.reset(std::fopen(swapOut.c_str(), "wb"));
    if (!swapFile) {
      std::fprintf(stderr, "vxa4410-sim: cannot write %s: %s\n", swapOut.c_str(),
                   std::strerror(errno));
      return kExitFailed;
    }
  }

  std::string error;
  std::unique_ptr<PtyServer> server = PtyServer::Open(std::move(options), &error);
  if (!server) {
    std::fprintf(stderr, "vxa4410-sim: cannot open a pseudo-terminal: %s\n", error.c_str());
    return kExitFailed;
  }
  std::printf("%s\n", server->SlavePath().c_str());
  std::fflush(stdout);

  const PtyServer::End end = server->Serve(stop.Get());
  return Finish(*server, end, std::move(swapFile), swapOut);
}
