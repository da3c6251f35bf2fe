#include "app/cli/Commands.h"

#include "text/Messages.h"

namespace vxa::cli {
namespace {

constexpr CommandEntry kCommands[] = {
    {Command::kList, "list", 0, 0, msg::kHelpList, Asked::kList, &ExecuteList},
    {Command::kInfo, "info", 0, 0, msg::kHelpInfo, Asked::kInfo, &ExecuteOnInstruments},
    {Command::kUpdate, "update", 0, 0, msg::kHelpUpdate, Asked::kUpdate, &ExecuteOnInstruments},
    {Command::kRead, "read", msg::kHelpReadArguments, 2, msg::kHelpRead, Asked::kRead,
     &ExecuteOnInstruments},
    {Command::kHistory, "history", msg::kHelpValueFile, 1, msg::kHelpHistory, Asked::kList, nullptr,
     &ExecuteHistory},
};

}  // namespace

std::span<const CommandEntry> Commands() { return kCommands; }

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& entry : kCommands) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

const CommandEntry* FindCommand(Command command) {
  for (const CommandEntry& entry : kCommands) {
    if (command == entry.command) return &entry;
  }
  return nullptr;
}

std::string CommandSynopsis(const CommandEntry& entry) {
  std::string synopsis = entry.name;
  if (entry.arguments != 0) synopsis += std::string(" ") + VXA_MSG(entry.arguments);
  return synopsis;
}

}  // namespace vxa::cli
