#include "app/cli/CliOptions.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

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
};

constexpr char kShortOptions[] = ":hVy";

constexpr option kLongOptions[] = {
    {"sim", no_argument, nullptr, kOptSim},
    {"fast", no_argument, nullptr, kOptFast},
    {"port", required_argument, nullptr, kOptPort},
    {"driver", required_argument, nullptr, kOptDriver},
    {"log", no_argument, nullptr, kOptLog},
    {"yes", no_argument, nullptr, 'y'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"sim-fault", required_argument, nullptr, kOptSimFault},
    {"sim-instruments", required_argument, nullptr, kOptSimInstruments},
    {"lang", required_argument, nullptr, kOptLang},
    {"device", required_argument, nullptr, kOptDevice},
    {"all", no_argument, nullptr, kOptAll},
    {nullptr, 0, nullptr, 0},
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
void TakeValue(const char* option, std::string* value, std::string* error) {
  *value = optarg;
  if (value->empty()) *error = FormatText(VXA_MSG(msg::kMissingArgument), option);
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

std::string CheckCommand(const std::vector<std::string>& operands, CliOptions* options) {
  if (operands.empty()) return VXA_MSG(msg::kNoCommand);
  const std::string& name = operands.front();
  size_t arguments = 0;
  if (name == "list") {
    options->command = Command::kList;
  } else if (name == "info") {
    options->command = Command::kInfo;
  } else if (name == "update") {
    options->command = Command::kUpdate;
  } else if (name == "read") {
    options->command = Command::kRead;
    arguments = 2;
  } else {
    return FormatText(VXA_MSG(msg::kUnknownCommand), name.c_str());
  }
  if (operands.size() != arguments + 1) {
    return FormatText(VXA_MSG(msg::kWrongArgumentCount), name.c_str());
  }
  if (options->command == Command::kRead) {
    const std::optional<uint32_t> kind = FileKindByName(operands[1]);
    if (!kind) return FormatText(VXA_MSG(msg::kUnknownFileKind), operands[1].c_str());
    options->fileKind = *kind;
    options->file = operands[2];
  }
  return {};
}

std::string CheckCombinations(const CliOptions& options) {
  if (options.sim && !options.port.empty()) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--sim", "--port");
  }
  if (options.sim && !options.driver.empty()) {
    return FormatText(VXA_MSG(msg::kConflictingOptions), "--sim", "--driver");
  }
  if (!options.driver.empty() && options.driver != "serial" && options.driver != "libftdi" &&
      options.driver != "d2xx") {
    return FormatText(VXA_MSG(msg::kUnknownDriver), options.driver.c_str());
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
    return FormatText(VXA_MSG(msg::kOptionNeedsCommand), "--device", "info, update, read");
  }
  if (!options.sim) {
    if (options.fast) return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--fast");
    if (!options.faults.empty()) return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--sim-fault");
    if (options.simInstruments != 1) {
      return FormatText(VXA_MSG(msg::kOptionNeedsSim), "--sim-instruments");
    }
  }
  return {};
}

}  // namespace

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

ParsedCommandLine ParseCliArguments(int argc, char* const argv[]) {
  ParsedCommandLine result;
  CliOptions& options = result.options;
  std::vector<std::string> operands;
  // getopt keeps its place in globals: 0 starts a fresh scan, as a second parse (the tests) needs.
  optind = 0;
  opterr = 0;
  for (;;) {
    const int option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case kOptSim:
        options.sim = true;
        break;
      case kOptFast:
        options.fast = true;
        break;
      case kOptPort:
        TakeValue("--port", &options.port, &result.error);
        break;
      case kOptDriver:
        TakeValue("--driver", &options.driver, &result.error);
        break;
      case kOptLog:
        options.log = true;
        break;
      case 'y':
        options.yes = true;
        break;
      case kOptLang:
        options.language = ParseLanguageName(optarg);
        if (!options.language) {
          result.error = FormatText(VXA_MSG(msg::kInvalidOptionValue), "--lang", optarg);
        }
        break;
      case kOptDevice:
        TakeValue("--device", &options.device, &result.error);
        break;
      case kOptAll:
        options.all = true;
        break;
      case 'h':
        options.help = true;
        break;
      case 'V':
        options.version = true;
        break;
      case kOptSimFault: {
        SimFaultSpec faultSpec;
        if (!ParseFaultSpec(optarg, &faultSpec)) {
          result.error = FormatText(VXA_MSG(msg::kInvalidFault), optarg);
        } else {
          options.faults.push_back(faultSpec);
        }
        break;
      }
      case kOptSimInstruments: {
        long long count = 0;
        if (!ParseLong(optarg, 0, 8, &count)) {
          result.error = FormatText(VXA_MSG(msg::kInvalidOptionValue), "--sim-instruments", optarg);
        } else {
          options.simInstruments = static_cast<int>(count);
        }
        break;
      }
      case ':':
        result.error = FormatText(VXA_MSG(msg::kMissingArgument),
                                  OffendingOption(argv, optind - 1, optopt).c_str());
        break;
      default:
        result.error = FormatText(VXA_MSG(msg::kUnknownOption),
                                  OffendingOption(argv, optind - 1, optopt).c_str());
        break;
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
