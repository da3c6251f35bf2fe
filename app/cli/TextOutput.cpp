#include "app/cli/TextOutput.h"

#include "app/Station.h"
#include "app/cli/Console.h"
#include "app/cli/History.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// The history's table fits a terminal of the common width, also when it goes to a file.
constexpr size_t kHistoryColumns = 80;

}  // namespace

TextOutput::TextOutput(TerminalStreams streams) : streams_(streams) {}

void TextOutput::Print(std::FILE* stream, const std::string& text) {
  BreakLine();
  PrintText(stream, text);
}

void TextOutput::BridgeCount(uint32_t count) {
  Print(streams_.out, FormatText(VXA_MSG(msg::kDeviceCount), count));
}

void TextOutput::BridgeListed(const BridgeInfo& bridge) { Print(streams_.out, BridgeLine(bridge)); }

void TextOutput::InstrumentFound(const Who&, const DeviceLines& lines, const InstrumentFacts&) {
  for (const std::string& line : lines) Print(streams_.out, line);
}

void TextOutput::Reported(const Who&, const Report& report) {
  std::FILE* stream = report.kind == ReportKind::kInformation ? streams_.out : streams_.err;
  Print(stream, report.text);
  for (const std::string* line :
       {&report.fault.text, &report.hint, &report.detail, &report.consequence}) {
    if (!line->empty()) Print(stream, *line);
  }
}

void TextOutput::LogUnavailable(const Who&, const std::string& why) { Print(streams_.err, why); }

void TextOutput::NewFirmware(const Who&, const std::string& programVersion,
                             const std::optional<LocalDateTime>& clockSet) {
  Print(streams_.out, FormatText(VXA_MSG(msg::kNewProgramVersion), programVersion.c_str()));
  if (!clockSet) {
    // The firmware is updated all the same; the user sets the time on the instrument.
    Print(streams_.err, VXA_MSG(msg::kClockNotSet));
    return;
  }
  const LocalDateTime& at = *clockSet;
  Print(streams_.out, FormatText(VXA_MSG(msg::kDeviceClockSet),
                                 FormatText("%04d-%02d-%02d %02d:%02d:%02d", at.year, at.month,
                                            at.day, at.hour, at.minute, at.second)
                                     .c_str()));
}

void TextOutput::StageEntered(const Who& who, Stage stage, const std::string& text) {
  if (text == line_.StageText()) return;
  // The stage that ends keeps its line in the scrollback, with its last figures.
  if (lineDrawn_) {
    DrawLine(who);
    BreakLine();
  }
  line_.Enter(text, stage == Stage::kFileRead);
  Redraw(true, who);
}

void TextOutput::Progressed(const Who& who, const Progress& progress) {
  if (line_.Moved(progress, who.clock->Now())) Redraw(false, who);
}

void TextOutput::VersionWaited(const Who& who, const Waited& waited) {
  // The time waited stands where a transfer's figures stood, next to the stage.
  if (line_.Waited(waited)) Redraw(false, who);
}

void TextOutput::Idle(const Who& who) {
  // A transfer that stalls shows a falling rate, not the last good one.
  if (lineDrawn_ && line_.HasFigures()) Redraw(false, who);
}

void TextOutput::Redraw(bool stageChanged, const Who& who) {
  if (!streams_.errIsTerminal) {
    // A log or a pipe gets one line per stage and nothing in between.
    if (stageChanged && !line_.StageText().empty()) {
      WriteText(streams_.err, line_.StageText() + "\n");
    }
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!stageChanged && lineDrawn_ && now - lastRedraw_ < kRedrawInterval) return;
  DrawLine(who);
}

void TextOutput::DrawLine(const Who& who) {
  if (!streams_.errIsTerminal) return;
  lastRedraw_ = std::chrono::steady_clock::now();
  const std::string text = line_.Line(who.clock->Now(), {}, LineWidth(streams_.err));
  if (lineDrawn_ && text == drawn_) return;
  drawn_ = text;
  // Back to the start of the line, the new text, then clear whatever the old one left behind.
  WriteText(streams_.err, "\r" + text + std::string(kClearToLineEnd));
  lineDrawn_ = true;
}

void TextOutput::BreakLine() {
  if (!lineDrawn_) return;
  WriteText(streams_.err, "\n");
  lineDrawn_ = false;
}

void TextOutput::StagesOver(const Who& who) {
  if (lineDrawn_) DrawLine(who);
  BreakLine();
}

void TextOutput::StationLooked(const Station& station) {
  if (!station_) station_.emplace(station, streams_);
  station_->Refresh();
}

void TextOutput::StationEnded(const Station& station, bool update, size_t succeeded) {
  // A log that could not be created: said once the lines of the progress are done with.
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (result.warning.empty()) continue;
    Print(streams_.err, FormatText("%u: %s", result.bridge.index, result.warning.c_str()));
  }
  if (update) {
    WriteText(streams_.out, StationTable(station, LineWidth(streams_.out)));
    Print(streams_.out, FormatText(VXA_MSG(msg::kStationSummary), static_cast<int>(succeeded),
                                   static_cast<int>(station.Size())));
    return;
  }
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (index > 0) WriteText(streams_.out, "\n");
    Print(streams_.out, BridgeLine(result.bridge));
    if (result.lines) {
      for (const std::string& line : *result.lines) Print(streams_.out, line);
    } else {
      Print(streams_.err, FormatText("%u: %s", result.bridge.index,
                                     StationOutcomeText(result, Asked::kInfo).c_str()));
      if (const std::optional<Failure>& failure = result.outcome.failure) {
        for (const std::string* line : {&failure->fault.text, &failure->hint}) {
          if (!line->empty()) Print(streams_.err, *line);
        }
      }
    }
  }
}

void TextOutput::Failed(const Failure& failure) {
  Print(streams_.err, failure.text);
  for (const std::string* line : {&failure.fault.text, &failure.hint}) {
    if (!line->empty()) Print(streams_.err, *line);
  }
}

void TextOutput::Note(const std::string& text) { Print(streams_.err, text); }

void TextOutput::FileSaved(const std::string& file, int bytes, bool toStandardOutput) {
  // The file's own bytes went to standard output: the report must not join them, and names no
  // file called "-".
  if (toStandardOutput) {
    Print(streams_.err, FormatText(VXA_MSG(msg::kFileWrittenToStandardOutput), bytes));
    return;
  }
  Print(streams_.out, FormatText(VXA_MSG(msg::kFileSaved), file.c_str(), bytes));
}

void TextOutput::RecordSkipped(const std::string& file, size_t line) {
  Print(streams_.err, FormatText(VXA_MSG(msg::kHistoryLineSkipped), file.c_str(), line));
}

void TextOutput::RunEnded(const RunEnd& end) {
  if (!history_.empty()) WriteText(streams_.out, HistoryTable(history_, kHistoryColumns));
  if (end.exitStatus != kExitInterrupted) return;
  Print(streams_.err, VXA_MSG(msg::kAbortedByUser));
  if (!end.eachConsequenceShown) {
    Print(streams_.err, InterruptionConsequence(end.outcome, end.asked));
  }
}

}  // namespace vxa::cli
