#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Output.h"
#include "app/cli/ProgressRenderer.h"
#include "app/cli/StationDisplay.h"
#include "app/cli/TerminalStreams.h"

namespace vxa::cli {

// The output a person reads: results on stdout (the four lines, the listing, the information
// boxes' texts, the table), problems, notes and the progress on stderr. On a terminal the progress
// is one line redrawn in place, each stage's line kept with its last figures; in a file or a pipe
// each stage is a plain line of its own.
class TextOutput final : public Output {
 public:
  explicit TextOutput(TerminalStreams streams);


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
  void Idle(const Who& who) override;
  void StagesOver(const Who& who) override;

  void StationLooked(const Station& station) override;
  void StationEnded(const Station& station, bool update, size_t succeeded) override;

  void Failed(const Failure& failure) override;
  void Note(const std::string& text) override;
  void StandardOutputTaken() override { streams_.out = streams_.err; }
  void FileSaved(const std::string& file, int bytes, bool toStandardOutput) override;
  void RecordRead(const RecordEntry& entry) override { history_.push_back(entry); }
  void RecordSkipped(const std::string& file, size_t line) override;
  void RunEnded(const RunEnd& end) override;

  void Interjecting() override { BreakLine(); }

 private:
  void BreakLine();
  void Print(std::FILE* stream, const std::string& text);
  // Draws the progress line unless it was drawn very recently and only its figures changed.
  void Redraw(bool stageChanged, const Who& who);
  // Draws the progress line as it stands now, however recently it was drawn.
  void DrawLine(const Who& who);

  TerminalStreams streams_;
  ProgressRenderer line_;
  bool lineDrawn_ = false;
  std::string drawn_;  // the progress line as last drawn
  std::chrono::steady_clock::time_point lastRedraw_{};
  std::optional<StationDisplay> station_;
  std::vector<RecordEntry> history_;  // shown as one table, its columns aligned, at the end
};

}  // namespace vxa::cli
