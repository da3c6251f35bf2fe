#include "app/CommandLine.h"

#include "app/Backend.h"
#include "app/HelpText.h"
#include "text/Language.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// The window's options as its help lists them.
struct WindowOption {
  const char* name;
  int32_t valueName;  // catalogue id of its value's name; 0 for none
  int32_t help;
};

constexpr WindowOption kWindowOptions[] = {
    {"-sim", 0, msg::kWindowHelpSim},
    {"-port", msg::kHelpValuePath, msg::kWindowHelpPort},
    {"-driver", msg::kHelpValueName, msg::kHelpDriver},
    {"-log", 0, msg::kWindowHelpLog},
    {"-lang", msg::kHelpValueLanguage, msg::kWindowHelpLang},
    {"-time", 0, msg::kWindowHelpTime},
    {"--help", 0, msg::kHelpHelp},
    {"--version", 0, msg::kHelpVersion},
};

}  // namespace

std::string WindowHelp(const std::string& program) {
  std::vector<HelpRow> rows;
  for (const WindowOption& option : kWindowOptions) {
    HelpRow row{option.name, VXA_MSG(option.help)};
    if (option.valueName != 0) row.label += std::string(" ") + VXA_MSG(option.valueName);
    if (option.help == msg::kHelpDriver) {
      row.text = FormatText(VXA_MSG(msg::kHelpDriver), DriverHelp().c_str());
    }
    rows.push_back(std::move(row));
  }
  return FormatText(VXA_MSG(msg::kWindowHelpUsage), program.c_str()) + "\n\n" +
         WrapText(VXA_MSG(msg::kWindowHelpIntro), kHelpWidth, 0, 0) + "\n\n" + HelpRows(rows);
}

std::vector<std::string_view> SplitCommandLine(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t position = 0;
  do {
    const size_t space = text.find(' ', position);
    size_t length = space == std::string_view::npos ? text.size() - position : space - position;
    if (length == 0 && space != std::string_view::npos) length = 1;  // the space itself
    tokens.push_back(text.substr(position, length));
    position += length;
  } while (position < text.size());
  return tokens;
}

CommandLineOptions ParseCommandLine(std::string_view text) {
  CommandLineOptions options;
  const std::vector<std::string_view> tokens = SplitCommandLine(text);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    if (token.size() > kMaxTokenLength) continue;
    bool* const flag = token == "-log"        ? &options.log
                       : token == "-time"     ? &options.time
                       : token == "-sim"      ? &options.sim
                       : token == "--help"    ? &options.help
                       : token == "--version" ? &options.version
                                              : nullptr;
    if (flag != nullptr) *flag = true;
    const bool takesValue = token == "-lang" || token == "-port" || token == "-driver";
    if (flag == nullptr && !takesValue && token.size() > 1 && token.front() == '-') {
      options.unknown.emplace_back(token);
    }
    if (token == "-lang") {
      size_t next = i + 1;
      while (next < tokens.size() && tokens[next] == " ") ++next;
      if (next < tokens.size()) {
        if (const auto language = ParseLanguageName(tokens[next])) {
          options.language = language;
          i = next;
        }
      }
    }
    if (token == "-port" || token == "-driver") {
      // The argument is the next word; the spaces between are separators here.
      size_t next = i + 1;
      while (next < tokens.size() && tokens[next] == " ") ++next;
      if (next < tokens.size() && tokens[next].size() > kMaxTokenLength) {
        options.errors.push_back(std::string(token) + ": argument too long");
        i = next;
      } else if (next < tokens.size()) {
        (token == "-port" ? options.port : options.driver) = std::string(tokens[next]);
        i = next;
      } else {
        options.errors.push_back(std::string(token) + " needs an argument");
      }
    }
  }
  return options;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace vxa
