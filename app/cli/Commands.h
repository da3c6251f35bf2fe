#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "app/Backend.h"
#include "app/Outcome.h"
#include "app/Station.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Output.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/TerminalStreams.h"

// The terminal program's commands, one entry each in one table: its name, its arguments, its line
// of the help, what counts as its success, and what runs it.
namespace vxa::cli {

// What a command is given to run with.
struct CommandContext {
  const CliOptions& options;
  const TerminalStreams& streams;
  Backend& backend;
  SignalPipe& signals;
  Output& output;
};

// How a command's run ended.
struct CommandResult {
  Outcome outcome;
  // Several instruments: each one's row has said what an interruption left it in.
  bool eachConsequenceShown = false;
};

struct CommandEntry {
  Command command;
  const char* name;
  int32_t arguments;  // catalogue id of its arguments as the help names them; 0 for none
  size_t operands;    // how many arguments it takes
  int32_t help;       // catalogue id of its line in the help
  Asked asked;        // what counts as its success
  CommandResult (*execute)(const CommandContext& context);
  // A command that reads only files of this computer runs by this instead: it needs no backend
  // and opens no instrument.
  CommandResult (*executeOffline)(const CliOptions& options, Output& output) = nullptr;
};

std::span<const CommandEntry> Commands();
// The command of this name or this value; null for none.
const CommandEntry* FindCommand(std::string_view name);
const CommandEntry* FindCommand(Command command);
// The command with its arguments as the help names them: "read KIND FILE".
std::string CommandSynopsis(const CommandEntry& entry);

// list: the number of bridges attached, and each one's description, port and serial number.
CommandResult ExecuteList(const CommandContext& context);
// history: the records of --record, oldest first, those of one instrument with --device.
CommandResult ExecuteHistory(const CliOptions& options, Output& output);
// info, update and read: of the one instrument, the one --device names, or (info and update)
// every one with --all.
CommandResult ExecuteOnInstruments(const CommandContext& context);

// The one instrument of a command, or the one chosen among several.
CommandResult RunOnOne(const CommandContext& context, const std::optional<BridgeInfo>& chosen);
// The bridge --device names: by its index in the listing, its port, its own serial number, or the
// serial number its instrument tells (every instrument is asked). Nothing, with `ended` saying
// how the command ended, when it names none, names another device than the instrument, or the
// serial number is not one instrument's.
std::optional<BridgeInfo> SelectDevice(const CommandContext& context, CommandResult* ended);
// info --all and update --all.
CommandResult RunStation(const CommandContext& context);
// update --all --watch: until Ctrl-C, each instrument as it is plugged in.
CommandResult RunWatch(const CommandContext& context);
// Says `note` and asks once, before any instrument is touched, whether to update them all (not
// with --yes), after `lines` that name what changes (each ending in a line end). Nothing when
// agreed; else how the command ended.
std::optional<CommandResult> ConfirmStation(const CommandContext& context,
                                            const std::string& note,
                                            const std::string& lines = {});

// Starts an instrument of `station` on each bridge and waits until every one has ended, passing
// Ctrl-C on to each and showing their progress on `output` when given. True when interrupted.
bool RunToEnd(Station& station, const std::vector<BridgeInfo>& bridges, Station::Options options,
              SignalPipe& signals, Output* output);

}  // namespace vxa::cli
