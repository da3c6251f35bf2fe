#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/InstrumentFacts.h"
#include "app/LoaderView.h"
#include "app/Outcome.h"
#include "app/UpdateRecord.h"
#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa {
class Station;
}

namespace vxa::cli {

// Which instrument an event is about: the one a command works with, or one of a station's.
struct Who {
  size_t index = 0;
  BridgeInfo bridge{};  // as listed; empty for the one instrument found by its description
  Clock* clock = nullptr;  // the instrument's, by which its rates and times are measured
  // A station's instrument: its place among them. A watched station may start one bridge again
  // (unplugged and plugged in), and its listing index may pass on to another: this does not.
  std::optional<size_t> member{};
};

// How a whole run ended, for the lines that close it.
struct RunEnd {
  Asked asked = Asked::kInfo;
  Outcome outcome;
  int exitStatus = 0;
  // Several instruments: each one's row has said what an interruption left it in.
  bool eachConsequenceShown = false;
};

// What the terminal program's commands found and how they ended, for whoever reads the program:
// a person at a terminal, or another program. The commands say what happened; an output decides
// what to write and where. Every call comes from the program's main thread.
class Output {
 public:
  virtual ~Output() = default;

  // Whether its reader wants every instrument named by its bridge, also the one found by its
  // description alone: the command then lists the bridges to tell which it is.
  virtual bool NamesBridges() const { return false; }

  // --- The listing of the bridges.
  virtual void BridgeCount(uint32_t count) = 0;
  virtual void BridgeListed(const BridgeInfo& bridge) = 0;

  // --- One instrument's search and update, as its loader tells them.
  virtual void InstrumentFound(const Who& who, const DeviceLines& lines,
                               const InstrumentFacts& facts) = 0;
  virtual void StageEntered(const Who& who, Stage stage, const std::string& text) = 0;
  // The transfer moved on, or was looked at.
  virtual void Progressed(const Who& who, const Progress& progress) = 0;
  virtual void VersionWaited(const Who& who, const Waited& waited) = 0;
  // What the loader reported: a failure with its kind, or how a step that succeeded ended.
  virtual void Reported(const Who& who, const Report& report) = 0;
  virtual void LogUnavailable(const Who& who, const std::string& why) = 0;
  virtual void NewFirmware(const Who& who, const std::string& programVersion,
                           const std::optional<LocalDateTime>& clockSet) = 0;
  // The waiting side has looked without news.
  virtual void Idle(const Who& who) = 0;
  // The stages are over: what follows is no progress.
  virtual void StagesOver(const Who& who) = 0;

  // --- Several instruments at once.
  // How each of the station's instruments stands; called at every look while they run, and once
  // after the last has ended.
  virtual void StationLooked(const Station& station) = 0;
  // Every instrument has ended: what each found (a search) or how each update went (an update).
  virtual void StationEnded(const Station& station, bool update, size_t succeeded) = 0;

  // --- What a command says besides.
  // A failure outside the loader: the command line, a file, the driver's set-up, the listing.
  virtual void Failed(const Failure& failure) = 0;
  // A line for the person at the terminal: a cause the driver knows, a hint, a refusal to go on.
  virtual void Note(const std::string& text) = 0;
  // The file a read fills goes to standard output: from now on nothing else may.
  virtual void StandardOutputTaken() = 0;
  // The file a read filled is saved under its name (`toStandardOutput`: the bytes went there).
  virtual void FileSaved(const std::string& file, int bytes, bool toStandardOutput) = 0;
  // --- The records of earlier updates (history), in the order of their file.
  virtual void RecordRead(const RecordEntry& entry) = 0;
  // The line numbered `line` (from 1) of `file` is no whole record, and is passed over.
  virtual void RecordSkipped(const std::string& file, size_t line) = 0;

  // The run is over; its status has been decided.
  virtual void RunEnded(const RunEnd& end) = 0;

  // The terminal is about to get a line of the program's own on the error stream (a question,
  // the answer to Ctrl-C): whatever is drawn in place there ends first.
  virtual void Interjecting() {}
};

}  // namespace vxa::cli
