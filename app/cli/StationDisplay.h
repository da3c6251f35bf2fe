#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/Station.h"
#include "app/cli/CliOptions.h"
#include "app/cli/ProgressRenderer.h"
#include "app/cli/TerminalStreams.h"

namespace vxa::cli {

// The progress of a station's update on stderr, one line per instrument: its index, port and
// serial number, then its stage with the bytes, the rate and the time left, and in the end how it
// ended. On a terminal the lines are redrawn in place; in a file or a pipe each stage and each
// ending is a plain line of its own.
class StationDisplay {
 public:
  StationDisplay(const Station& station, const TerminalStreams& streams);

  // Shows what has changed; call it from the waiting thread only.
  void Refresh();

 private:
  struct Row {
    size_t stages = 0;  // those shown so far
    ProgressRenderer line;
    bool ended = false;
    bool unplugged = false;  // shown as unplugged
  };

  // The instrument at the head of its row: index, port and, once told, serial number.
  std::string Head(size_t index, const StationProgress& progress) const;
  // The row's line: the instrument, then its stage with its figures, or how it ended, within
  // `columns` (0: whole).
  std::string Line(size_t index, const StationProgress& progress, size_t columns) const;

  const Station& station_;
  const TerminalStreams streams_;
  std::vector<Row> rows_;
  bool drawn_ = false;
  size_t drawnRows_ = 0;  // the lines drawn last time, to back up over
  std::chrono::steady_clock::time_point lastRedraw_{};
};

// How an instrument's run ended, in words for its row: "updated", the failure's own text, or the
// interruption with what it means for the instrument (`asked`: a search or an update). One line.
std::string StationOutcomeText(const StationResult& result, Asked asked);

// How the instrument at `index` ended, and whether its bridge has left since: a watched station's
// instruments come and go.
std::string StationEnding(const Station& station, size_t index, const StationProgress& look);

// The outcome in a word or two, from the failure's kind: what fits a column or a narrow row.
std::string ShortOutcome(const StationResult& result);
// The short outcome, and whether the bridge has left since, as StationEnding.
std::string ShortEnding(const Station& station, size_t index, const StationProgress& look);

// The table that ends an update of several instruments: serial number, port, outcome, new version
// and time, one row per instrument, the columns aligned, within `columns`. The outcome column
// has the short outcome; each instrument that was not updated has its whole text, with what it
// means for the instrument, in a numbered note under the table.
std::string StationTable(const Station& station, size_t columns);

// A text made plain for a terminal, on one line.
std::string OneLine(const std::string& text);
// Where an instrument's bridge is: its port, else its bridge's serial number.
std::string PortOf(const BridgeInfo& bridge);

// "m:ss".
std::string MinutesAndSeconds(Clock::Duration duration);

}  // namespace vxa::cli
