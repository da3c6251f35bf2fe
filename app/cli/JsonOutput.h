#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/cli/Output.h"
#include "app/cli/ProgressMeter.h"
#include "app/cli/TerminalStreams.h"

namespace vxa::cli {

// The output another program reads: JSON Lines on stdout, one object a line, flushed a line at a
// time, each with its "type" and the moment it was written; nothing on stderr but a usage error
// (which is also an object). Machine fields are stable English words and numbers; the texts for
// people beside them are in the chosen language. docs/json.md describes every object.
class JsonOutput final : public Output {
 public:
  // The object that opens the output names the program and the command.
  JsonOutput(TerminalStreams streams, std::string program, std::string command);

  bool NamesBridges() const override { return true; }

  void BridgeCount(uint32_t count) override;
  void BridgeListed(const BridgeInfo& bridge) override;

  void InstrumentFound(const Who& who, const DeviceLines& lines,
                       const InstrumentFacts& facts) override;
  void StageEntered(const Who& who, Stage stage, const std::string& text) override;
  void Progressed(const Who& who, const Progress& progress) override;
  void VersionWaited(const Who& who, const Waited& waited) override;
  void Reported(const Who& who, const Report& report) override;
  void LogUnavailable(const Who& who, const std::string& why) override;
  void NewFirmware(const Who& who, const std::string& programVersion,
                   const std::optional<LocalDateTime>& clockSet) override;
  void Idle(const Who&) override {}
  void StagesOver(const Who&) override {}

  void StationLooked(const Station& station) override;
  void StationEnded(const Station& station, bool update, size_t succeeded) override;

  void Failed(const Failure& failure) override;
  void Note(const std::string& text) override;
  void StandardOutputTaken() override {}
  void FileSaved(const std::string& file, int bytes, bool toStandardOutput) override;
  void RecordRead(const RecordEntry& entry) override;
  void RecordSkipped(const std::string& file, size_t line) override;
  void RunEnded(const RunEnd& end) override;

 private:
  // What is known of one instrument, by its index (a station's: by its place among them).
  struct Instrument {
    BridgeInfo bridge;
    std::string serialNumber;
    bool found = false;
    size_t stages = 0;  // of a station's instrument: those written so far
    std::optional<Stage> stage;
    std::chrono::steady_clock::time_point lastProgress{};
    ProgressMeter meter;
    long waitedSeconds = -1;
    std::string newVersion;
    std::optional<LocalDateTime> clockSet;
    std::string successText;
    bool ended = false;
    bool updated = false;
    bool unplugged = false;  // a station's: its bridge has left the listing
  };

  Instrument& Of(const Who& who);
  Instrument& At(size_t index, const BridgeInfo& bridge);
  // The object of `type` about an instrument: its index, port, bridge's and own serial numbers.
  nlohmann::ordered_json About(const char* type, size_t index, const Instrument& instrument) const;
  void Write(nlohmann::ordered_json object);
  void WriteOutcome(size_t index, Instrument& instrument, const Outcome& outcome);
  void StationMember(const Station& station, size_t index);

  const TerminalStreams streams_;
  std::map<size_t, Instrument> instruments_;
  bool station_ = false;
  uint32_t bridgesListed_ = 0;
  const bool history_;
  size_t records_ = 0;
};

}  // namespace vxa::cli
