#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Backend.h"
#include "app/HelpText.h"
#include "text/Messages.h"

namespace vxa::cli {

enum class Command { kNone, kList, kInfo, kUpdate, kRead, kHistory };

struct CliOptions {
  Command command = Command::kNone;
  bool help = false;
  bool version = false;

  bool sim = false;
  bool fast = false;  // the simulator in virtual time
  std::string port;
  std::string driver;
  bool log = false;
  bool yes = false;
  // --lang en|ru; without it the environment decides.
  std::optional<MessageLanguage> language;

  // Several instruments attached: --device picks one by its index, port or serial number, --all
  // takes every one (info, update).
  std::string device;
  bool all = false;

  // Another program reads the output: JSON Lines on stdout, nothing asked.
  bool json = false;
  // Every update attempt appends its record to this file.
  std::string record;
  // update --all until Ctrl-C, each instrument as it is plugged in; --force updates one that has
  // the program's version already.
  bool watch = false;
  bool force = false;

  // read KIND FILE, history FILE
  uint32_t fileKind = 0;
  std::string file;

  // Hidden options for tests and demonstrations of failures, all with --sim only: faults injected
  // into the simulated instrument, how many instruments are on the simulated bus, and when.
  std::vector<SimFaultSpec> faults;
  int simInstruments = 1;
  // --sim-plug and --sim-unplug: when each simulated instrument is plugged in and pulled out.
  std::vector<SimPlugEntry> plugs;
};

struct ParsedCommandLine {
  CliOptions options;
  std::string error;  // a usage error, in the catalogue's words; empty when the line is good
};

// GNU conventions: options before or after the command, "--" ends them, --opt=value or --opt
// value. Reads argv without keeping pointers into it.
ParsedCommandLine ParseCliArguments(int argc, char* const argv[]);

// The language asked for with --lang, looked for before the command line is parsed, so that even
// a usage error speaks it. Nothing when the option is absent or its value is not a language (the
// parse then reports that).
std::optional<MessageLanguage> LanguageOption(int argc, char* const argv[]);

// The options as the help lists them, in the catalogue's language.
std::vector<HelpRow> OptionHelpRows();
// What the options say of the backend.
BackendOptions BackendOptionsOf(const CliOptions& options);

// Whether --json is on the command line, looked for before it is parsed, so that even a usage
// error comes as JSON.
bool JsonOption(int argc, char* const argv[]);

// NAME[:count[:skip[:value[:command]]]][@INSTRUMENT], e.g. "silent", "corrupt-read-back:1:0:5000",
// "refuse-request:1:0:0:0x33", "unplug:1:20@1". count -1 fires for ever; numbers may be given in
// hex (0x...). Without @ every simulated instrument gets the fault, with it only the one of that
// index (as list numbers them).
bool ParseFaultSpec(const std::string& text, SimFaultSpec* faultSpec);

}  // namespace vxa::cli
