#include "app/cli/CliOptions.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "app/PlatformHelp.h"
#include "app/cli/Commands.h"
#include "app/cli/SimSchedule.h"
#include "text/Language.h"
#include "text/Messages.h"
#include "link/InstrumentProtocol.h"

namespace vxa::cli {
namespace {

// Values getopt_long gives the long options that have no short form.
enum : int {
  kOptSim = 256,
  kOptFast,
  kOptPort,
  kOptDriver,
  kOptLog,
  kOptSimFault,
  kOptSimInstruments,
  kOptLang,
  kOptDevice,
  kOptAll,
  kOptJson,
  kOptRecord,
  kOptWatch,
  kOptForce,
  kOptSimPlug,
  kOptSimUnplug,
};

// long long: a long has 32 bits on Windows, too few for a 32-bit unsigned value.
bool ParseLong(const std::string& text, long long minimum, long long maximum, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || parsed < minimum || parsed > maximum) {
    return false;
  }
  *value = parsed;
  return true;
}

// The value of an option that must have one: an empty one is a missing argument.
void TakeValue(const char* option, const char* given, std::string* value, std::string* error) {
  *value = given;
  if (value->empty()) *error = FormatText(VXA_MSG(msg::kMissingArgument), option);
}

// What an option does to the options read so far: `value` is its value (null for one that takes
// none); a bad one leaves the reason in `error`.
using ApplyOption = void (*)(const char* value, CliOptions* options, std::string* error);

// One option of the command line: its names, its value, its line of the help, and what it sets.
struct OptionEntry {
  const char* name;
  int value;         // its short letter, or one of the kOpt values
  bool takesValue;
  int32_t valueName;  // catalogue id of its value's name in the help; 0 for none
  int32_t help;       // catalogue id of its line in the help; 0 for an option the help leaves out
  ApplyOption apply;
};

void ApplyLanguage(const char* value, CliOptions* options, std::string* error) {
  options->language = ParseLanguageName(value);
  if (!options->language) *error = FormatText(VXA_MSG(msg::kInvalidOptionValue), "--lang", value);
}

void ApplyFault(const char* value, CliOptions* options, std::string* error) {
  SimFaultSpec faultSpec;
  if (!ParseFaultSpec(value, &faultSpec)) {
    *error = FormatText(VXA_MSG(msg::kInvalidFault), value);
  } else {
    options->faults.push_back(faultSpec);
  }
}

void ApplyInstruments(const char* value, CliOptions* options, std::string* error) {
  long long count = 0;
  if (!ParseLong(value, 0, 8, &count)) {
    *error = FormatText(VXA_MSG(msg::kInvalidOptionValue), "--sim-instruments", value);
  } else {
    options->simInstruments = static_cast<int>(count);
  }
}

template <bool kPlugged>
void ApplyPlugs(const char* value, CliOptions* options, std::string* error) {
  if (!ParsePlugSchedule(value, kPlugged, &options->plugs)) {
    *error = FormatText(VXA_MSG(msg::kInvalidOptionValue),
                        kPlugged ? "--sim-plug" : "--sim-unplug", value);
  }
}

// In the order the help lists them; the hidden options for tests and demonstrations last.
constexpr OptionEntry kOptions[] = {
    {"sim", kOptSim, false, 0, msg::kHelpSim,
     [](const char*, CliOptions* o, std::string*) { o->sim = true; }},
    {"fast", kOptFast, false, 0, msg::kHelpFast,
     [](const char*, CliOptions* o, std::string*) { o->fast = true; }},
    {"port", kOptPort, true, msg::kHelpValuePath, msg::kHelpPort,
     [](const char* v, CliOptions* o, std::string* e) { TakeValue("--port", v, &o->port, e); }},
    {"driver", kOptDriver, true, msg::kHelpValueName, msg::kHelpDriver,
     [](const char* v, CliOptions* o, std::string* e) { TakeValue("--driver", v, &o->driver, e); }},
    {"log", kOptLog, false, 0, msg::kHelpLog,
     [](const char*, CliOptions* o, std::string*) { o->log = true; }},
    {"device", kOptDevice, true, msg::kHelpValueDevice, msg::kHelpDevice,
     [](const char* v, CliOptions* o, std::string* e) { TakeValue("--device", v, &o->device, e); }},
    {"all", kOptAll, false, 0, msg::kHelpAll,
     [](const char*, CliOptions* o, std::string*) { o->all = true; }},
    {"json", kOptJson, false, 0, msg::kHelpJson,
     [](const char*, CliOptions* o, std::string*) { o->json = true; }},
    {"record", kOptRecord, true, msg::kHelpValueFile, msg::kHelpRecord,
     [](const char* v, CliOptions* o, std::string* e) { TakeValue("--record", v, &o->record, e); }},
    {"watch", kOptWatch, false, 0, msg::kHelpWatch,
     [](const char*, CliOptions* o, std::string*) { o->watch = true; }},
    {"force", kOptForce, false, 0, msg::kHelpForce,
     [](const char*, CliOptions* o, std::string*) { o->force = true; }},
    {"lang", kOptLang, true, msg::kHelpValueLanguage, msg::kHelpLang, &ApplyLanguage},
    {"yes", 'y', false, 0, msg::kHelpYes,
     [](const char*, CliOptions* o, std::string*) { o->yes = true; }},
    {"help", 'h', false, 0, msg::kHelpHelp,
     [](const char*, CliOptions* o, std::string*) { o->help = true; }},
    {"version", 'V', false, 0, msg::kHelpVersion,
     [](const char*, CliOptions* o, std::string*) { o->version = true; }},
    {"sim-fault", kOptSimFault, true, 0, 0, &ApplyFault},
    {"sim-instruments", kOptSimInstruments, true, 0, 0, &ApplyInstruments},
    {"sim-plug", kOptSimPlug, true, 0, 0, &ApplyPlugs<true>},
    {"sim-unplug", kOptSimUnplug, true, 0, 0, &ApplyPlugs<false>},
};

const OptionEntry* FindOption(int value) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.value == value) return &entry;
  }
  return nullptr;
}

// getopt_long's tables, made from the one above.
struct GetoptTables {
  std::string shortOptions = ":";
  std::vector<option> longOptions;
};

GetoptTables MakeGetoptTables() {
  GetoptTables tables;
  for (const OptionEntry& entry : kOptions) {
    tables.longOptions.push_back(
        {entry.name, entry.takesValue ? required_argument : no_argument, nullptr, entry.value});
    if (entry.value < kOptSim) tables.shortOptions += static_cast<char>(entry.value);
  }
  tables.longOptions.push_back({nullptr, 0, nullptr, 0});
  return tables;
}

// The option as the user wrote it, for the error text.
std::string OffendingOption(char* const argv[], int index, int shortOption) {
  // getopt_long puts a long option's own value in optopt, which is not a character to show.
  if (shortOption > 0 && shortOption < kOptSim) {
    return std::string("-") + static_cast<char>(shortOption);
  }
  if (index < 0) return {};
  std::string written = argv[index];
  const size_t equals = written.find('=');
  if (equals != std::string::npos) written.resize(equals);
  return written;
}

// What getopt_long refused. It refuses "--yes=1" too, naming the option by its value: that is a
// known option given a value it does not take, and is told by its long name.
std::string UnknownOption(char* const argv[], int index, int refused) {
  if (const OptionEntry* entry = FindOption(refused); entry != nullptr && !entry->takesValue) {
    return FormatText(VXA_MSG(msg::kOptionTakesNoValue), ("--" + std::string(entry->name)).c_str());
  }
  return FormatText(VXA_MSG(msg::kUnknownOption), OffendingOption(argv, index, refused).c_str());
}

std::string CheckCommand(const std::vector<std::string>& operands, CliOptions* options) {
  if (operands.empty()) return VXA_MSG(msg::kNoCommand);
  const std::string& name = operands.front();
  const CommandEntry* entry = FindCommand(name);
  if (entry == nullptr) return FormatText(VXA_MSG(msg::kUnknownCommand), name.c_str());
  options->command = entry->command;
  if (operands.size() != entry->operands + 1) {
    return FormatText(VXA_MSG(msg::kWrongArgumentCount), name.c_str()) +
           FormatText(VXA_MSG(msg::kCommandUsage), CommandSynopsis(*entry).c_str());
  }
  if (options->command == Command::kRead) {
    const std::optional<uint32_t> kind = FileKindByName(operands[1]);
    if (!kind) return FormatText(VXA_MSG(msg::kUnknownFileKind), operands[1].c_str());
    options->fileKind = *kind;
    options->file = operands[2];
  }
  if (options->command == Command::kHistory) options->file = operands[1];
  return {};
}

std::string CheckCombinations(const CliOptions& options) {
  if (options.sim && !options.port.empty()) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--sim", "--port");
  }
  if (options.sim && !options.driver.empty()) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--sim", "--driver");
  }
  if (!options.driver.empty() && !IsDriverName(options.driver)) {
    return FormatText(VXA_MSG(msg::kUnknownDriver), options.driver.c_str(), DriverNames().c_str());
  }
  // A port is a name for the system's serial driver; libftdi and the vendor's library find
  // bridges on the USB themselves.
  if (!options.port.empty() && (options.driver == "libftdi" || options.driver == "d2xx")) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--port",
                      ("--driver " + options.driver).c_str());
  }
  if (options.all && !options.device.empty()) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--all", "--device");
  }
  if (options.all && options.command != Command::kInfo && options.command != Command::kUpdate) {
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--all", "info, update");
  }
  if (!options.device.empty() && options.command == Command::kList) {
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--device", "info, update, read, history");
  }
  if (!options.record.empty() && options.command != Command::kUpdate) {
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--record", "update");
  }
  if (options.force && options.command != Command::kUpdate) {
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--force", "update");
  }
  if (options.watch && (options.command != Command::kUpdate || !options.all)) {
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--watch", "update --all");
  }
  // Standard output carries either the file's bytes or the JSON Lines.
  if (options.json && options.command == Command::kRead && options.file == "-") {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--json", "read ... -");
  }
  // Nobody is there to answer a question: the program that reads the output has said yes.
  if (options.json && options.command == Command::kUpdate && !options.yes) {
    return VXA_MSG(msg::kJsonNeedsYes);
  }
  if (!options.sim) {
    if (options.fast) return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--fast");
    if (!options.faults.empty()) return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--sim-fault");
    if (options.simInstruments != 1) {
      return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--sim-instruments");
    }
    if (!options.plugs.empty()) return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--sim-plug");
  }
  return {};
}

}  // namespace

std::vector<HelpRow> OptionHelpRows() {
  std::vector<HelpRow> rows;
  for (const OptionEntry& entry : kOptions) {
    if (entry.help == 0) continue;
    HelpRow row;
    if (entry.value < kOptSim) row.label = std::string("-") + static_cast<char>(entry.value) + ", ";
    row.label += std::string("--") + entry.name;
    if (entry.valueName != 0) {
      row.label += std::string(" ") + VXA_MSG(PlatformHelpText(entry.valueName));
    }
    row.text = entry.help == msg::kHelpDriver
                   ? FormatText(VXA_MSG(msg::kHelpDriver), DriverHelp().c_str())
                   : std::string(VXA_MSG(PlatformHelpText(entry.help)));
    rows.push_back(std::move(row));
  }
  return rows;
}

BackendOptions BackendOptionsOf(const CliOptions& options) {
  BackendOptions choice;
  choice.sim = options.sim;
  choice.driver = options.driver;
  choice.port = options.port;
  choice.virtualTime = options.fast;
  choice.simInstruments = options.simInstruments;
  choice.simFaults = options.faults;
  choice.simPlugs = options.plugs;
  // The station's time runs on beside each instrument's, paced by theirs.
  choice.ownClocks = options.watch;
  return choice;
}

bool ParseFaultSpec(const std::string& written, SimFaultSpec* faultSpec) {
  long long value = 0;
  std::string text = written;
  int instrument = -1;
  if (const size_t at = text.rfind('@'); at != std::string::npos) {
    if (!ParseLong(text.substr(at + 1), 0, 7, &value)) return false;
    instrument = static_cast<int>(value);
    text.resize(at);
  }
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (fields.size() > 5) return false;
  if (!IsSimFaultName(fields[0])) return false;
  SimFaultSpec parsed;
  parsed.name = fields[0];
  parsed.instrument = instrument;
  if (fields.size() > 1) {
    if (!ParseLong(fields[1], -1, INT_MAX, &value) || value == 0) return false;
    parsed.count = static_cast<int>(value);
  }
  if (fields.size() > 2) {
    if (!ParseLong(fields[2], 0, INT_MAX, &value)) return false;
    parsed.skip = static_cast<int>(value);
  }
  if (fields.size() > 3) {
    if (!ParseLong(fields[3], 0, static_cast<long long>(UINT32_MAX), &value)) return false;
    parsed.value = static_cast<uint32_t>(value);
  }
  if (fields.size() > 4) {
    if (!ParseLong(fields[4], -1, 255, &value)) return false;
    parsed.onCommand = static_cast<int>(value);
  }
  *faultSpec = parsed;
  return true;
}

std::optional<MessageLanguage> LanguageOption(int argc, char* const argv[]) {
  std::optional<MessageLanguage> language;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument(argv[index]);
    if (argument == "--") break;
    if (argument == "--lang" && index + 1 < argc) {
      language = ParseLanguageName(argv[++index]);
    } else if (argument.starts_with("--lang=")) {
      language = ParseLanguageName(argument.substr(7));
    }
  }
  return language;
}

bool JsonOption(int argc, char* const argv[]) {
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument(argv[index]);
    if (argument == "--") break;
    if (argument == "--json") return true;
  }
  return false;
}

ParsedCommandLine ParseCliArguments(int argc, char* const argv[]) {
  ParsedCommandLine result;
  CliOptions& options = result.options;
  std::vector<std::string> operands;
  const GetoptTables tables = MakeGetoptTables();
  // getopt keeps its place in globals: 0 starts a fresh scan, as a second parse (the tests) needs.
  optind = 0;
  opterr = 0;
  for (;;) {
    const int option = getopt_long(argc, argv, tables.shortOptions.c_str(),
                                   tables.longOptions.data(), nullptr);
    if (option == -1) break;
    // A value given to an option that takes none comes back as '?' from some getopt_long
    // implementations and as ':' from others (mingw-w64's): both are told the same way.
    const OptionEntry* named = option == ':' ? FindOption(optopt) : nullptr;
    if (option == ':' && (named == nullptr || named->takesValue)) {
      result.error = FormatText(VXA_MSG(msg::kMissingArgument),
                                OffendingOption(argv, optind - 1, optopt).c_str());
    } else if (option == ':') {
      result.error = UnknownOption(argv, optind - 1, optopt);
    } else if (const OptionEntry* entry = FindOption(option)) {
      entry->apply(entry->takesValue ? optarg : nullptr, &options, &result.error);
    } else {
      result.error = UnknownOption(argv, optind - 1, optopt);
    }
    if (!result.error.empty()) return result;
  }
  for (int index = optind; index < argc; ++index) operands.emplace_back(argv[index]);
  // --help and --version need no command and ignore one that is there.
  if (options.help || options.version) return result;
  result.error = CheckCommand(operands, &options);
  if (result.error.empty()) result.error = CheckCombinations(options);
  return result;
}

}  // namespace vxa::cli
