#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Backend.h"
#include "app/Station.h"
#include "app/cli/CliApp.h"
#include "app/cli/CliOptions.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/TerminalView.h"
#include "link/FtDriver.h"

// The commands for several instruments attached at once: --device picks one of them for info,
// update or read; info --all and update --all take every one, each on its own connection.
namespace vxa::cli {

// What a command run hands the several-instrument commands.
struct StationContext {
  const CliOptions& options;
  const TerminalStreams& streams;
  Backend& backend;
  SignalPipe& signals;
  RunReport& report;
};

// The line `list` prints for a bridge: its index, description, port and serial number.
std::string BridgeLine(const BridgeInfo& bridge);

// The bridge --device names: by its index in the listing, its port, its own serial number, or
// the serial number its instrument tells (every instrument is asked). Nothing, after saying why on stderr and noting
// the outcome in the report, when it names none, names another device than the instrument, or
// the serial number is not one instrument's.
std::optional<BridgeInfo> SelectDevice(const StationContext& context);

// info --all and update --all.
void RunStation(const StationContext& context);

// Starts an instrument of `station` on each bridge and waits until every one has ended, passing
// Ctrl-C on to each and showing their progress on `progress` when given. True when interrupted.
bool RunToEnd(Station& station, const std::vector<BridgeInfo>& bridges, Station::Options options,
              SignalPipe& signals, const TerminalStreams* progress);

}  // namespace vxa::cli
