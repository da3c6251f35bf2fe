#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/Messages.h"

namespace vxa {

// The longest token examined; a longer one is passed over whole so that it can never match an
// option by accident.
inline constexpr size_t kMaxTokenLength = 1023;

struct CommandLineOptions {
  bool log = false;      // "-log": each connection writes log_file.txt
  bool time = false;     // "-time": recognised, switches nothing on
  bool sim = false;      // "-sim": the built-in simulated instrument
  std::string port;      // "-port PATH": a serial port instead of the USB listing
  std::string driver;    // "-driver NAME": serial (default), libftdi or d2xx
  // "-lang en|ru"; any other value is passed over like an unknown word, and the environment
  // decides.
  std::optional<MessageLanguage> language;
  bool help = false;     // "--help": the options on the terminal, and no window
  bool version = false;  // "--version": the version on the terminal, and no window
  std::vector<std::string> errors;  // an option that lacks its argument
  // Words that look like options ("--sim", "-x") but are none of these; other words are passed
  // over.
  std::vector<std::string> unknown;
};

// Tokens are separated by single spaces only: a run of spaces gives one single-space token per
// space, and tabs or quotes have no meaning of their own.
std::vector<std::string_view> SplitCommandLine(std::string_view text);
CommandLineOptions ParseCommandLine(std::string_view text);
// The window's --help, in the catalogue's language, from the table of its options.
std::string WindowHelp(const std::string& program);
// The command line as one text, the arguments joined with single spaces.
std::string JoinArguments(int argc, const char* const* argv);

}  // namespace vxa
