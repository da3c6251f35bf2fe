#include "app/cli/Commands.h"

#include "text/Messages.h"

namespace vxa::cli {
namespace {

constexpr CommandSpec kCommands[] = {
    {Command::kList, "list", 0, 0, msg::kHelpList, Asked::kList, &ExecuteList},
    {Command::kInfo, "info", 0, 0, msg::kHelpInfo, Asked::kInfo, &ExecuteOnInstruments},
    {Command::kUpdate, "update", 0, 0, msg::kHelpUpdate, Asked::kUpdate, &ExecuteOnInstruments},
    {Command::kRead, "read", msg::kHelpReadArguments, 2, msg::kHelpRead, Asked::kRead,
     &ExecuteOnInstruments},
    {Command::kHistory, "history", msg::kHelpValueFile, 1, msg::kHelpHistory, Asked::kList, nullptr,
     &ExecuteHistory},
};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& spec : kCommands) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const CommandSpec* FindCommand(Command command) {
  for (const CommandSpec& spec : kCommands) {
    if (command == spec.command) return &spec;
  }
  return nullptr;
}

}  // namespace vxa::cli
