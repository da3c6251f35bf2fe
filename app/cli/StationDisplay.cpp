#include "app/cli/StationDisplay.h"

#include "app/cli/Console.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {

std::string OneLine(const std::string& text) {
  std::string line = PlainTerminalText(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line;
}

std::string StationEnding(const Station& station, size_t index, const StationProgress& look) {
  std::string text = StationOutcomeText(station.Result(index), Asked::kUpdate);
  if (!look.unplugged) return text;
  if (text.ends_with('.')) text.pop_back();
  return text + (text.empty() ? "" : "; ") + VXA_MSG(msg::kStationUnplugged);
}

std::string PortOf(const BridgeInfo& bridge) {
  if (!bridge.location.empty()) return bridge.location;
  return bridge.serialNumber.empty() ? "-" : bridge.serialNumber;
}

std::string MinutesAndSeconds(Clock::Duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  return FormatText("%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
}

std::string StationOutcomeText(const StationResult& result, Asked asked) {
  if (result.outcome.kind == Outcome::kUpdated) return VXA_MSG(msg::kOutcomeUpdated);
  if (result.outcome.kind == Outcome::kUpToDate) return VXA_MSG(msg::kStationUpToDate);
  if (result.interrupted) {
    Outcome interrupted(Outcome::kInterrupted);
    interrupted.kernelRequested = result.outcome.kernelRequested;
    return OneLine(std::string(VXA_MSG(msg::kAbortedByUser)) + ". " +
                   InterruptionConsequence(interrupted, asked));
  }
  if (!result.FailureText().empty()) {
    // With what it means for this instrument: unchanged, or installing and to be left alone.
    std::string text = OneLine(result.FailureText());
    // Why the driver call failed, where the backend knows: an unplugged one says so.
    if (const BridgeFault& fault = result.outcome.failure->fault; fault.Known()) {
      text += "; " + OneLine(fault.text);
    }
    const std::string& consequence = result.outcome.failure->consequence;
    if (!consequence.empty()) {
      text += text.ends_with('.') ? " " : ". ";
      text += OneLine(consequence);
    }
    return text;
  }
  return result.outcome.kind == Outcome::kFound ? "" : StringTableText(str::kNotConnected);
}

StationDisplay::StationDisplay(const Station& station, const TerminalStreams& streams)
    : station_(station), streams_(streams), rows_(station.Size()) {}

std::string StationDisplay::Head(size_t index, const StationProgress& progress) const {
  const StationResult& result = station_.Result(index);
  std::string head = FormatText("%u %s", result.bridge.index, PortOf(result.bridge).c_str());
  if (!progress.serialNumber.empty()) {
    head += ' ';
    head += OneLine(progress.serialNumber);
  }
  return head + ": ";
}

std::string StationDisplay::Line(size_t index, const StationProgress& progress,
                                 size_t columns) const {
  const std::string head = Head(index, progress);
  // The result is complete once the instrument is seen to have finished.
  if (progress.finished) {
    std::string line = head + StationEnding(station_, index, progress);
    // The whole text is in the table's note at the end; here its short form does.
    if (columns != 0 && TextWidth(line) >= columns) {
      line = head + ShortEnding(station_, index, progress);
    }
    return FitToColumns(line, columns);
  }
  const Row& row = rows_[index];
  if (progress.stages.empty()) return FitToColumns(head + VXA_MSG(msg::kStationSearching), columns);
  // Each instrument's rate on its own clock: in virtual time each has one.
  return row.line.Line(station_.ClockAt(index).Now(), head, columns);
}

void StationDisplay::Refresh() {
  bool changed = rows_.size() < station_.Size();
  // A watched station adds instruments as they are plugged in: each gets a row from then on.
  rows_.resize(station_.Size());
  std::vector<StationProgress> looks;
  looks.reserve(rows_.size());
  for (size_t index = 0; index < rows_.size(); ++index) {
    looks.push_back(station_.Look(index));
    const StationProgress& progress = looks.back();
    Row& row = rows_[index];
    if (progress.stages.size() != row.stages) {
      // Without a terminal every stage gets its line, also one that was over between two looks.
      for (size_t stage = row.stages; !streams_.errIsTerminal && stage < progress.stages.size();
           ++stage) {
        WriteText(streams_.err, Head(index, progress) + progress.stages[stage].text + "\n");
      }
      row.stages = progress.stages.size();
      row.line.Enter(progress.stages.back().text, false);
      changed = true;
    }
    if (progress.waited.limit.count() > 0) {
      row.line.Waited(progress.waited);
    } else {
      row.line.Moved(progress.progress, station_.ClockAt(index).Now());
    }
    if (progress.finished && !row.ended) {
      row.ended = true;
      row.unplugged = progress.unplugged;
      changed = true;
      if (!streams_.errIsTerminal) WriteText(streams_.err, Line(index, progress, 0) + "\n");
    }
    if (row.ended && progress.unplugged && !row.unplugged) {
      row.unplugged = true;
      changed = true;
      if (!streams_.errIsTerminal) {
        WriteText(streams_.err, Head(index, progress) + VXA_MSG(msg::kStationUnplugged) + "\n");
      }
    }
  }
  if (!streams_.errIsTerminal) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && !changed && now - lastRedraw_ < kRedrawInterval) return;
  lastRedraw_ = now;
  // Back up over the lines drawn last time and write each again, cut to the terminal's width so
  // that none wraps and the count of lines to back over stays right.
  std::string text = drawnRows_ > 0 ? CursorUp(static_cast<int>(drawnRows_)) : std::string();
  const size_t columns = LineWidth(streams_.err);
  for (size_t index = 0; index < rows_.size(); ++index) {
    text += '\r';
    text += Line(index, looks[index], columns);
    text += kClearToLineEnd;
    text += '\n';
  }
  WriteText(streams_.err, text);
  drawn_ = true;
  drawnRows_ = rows_.size();
}

}  // namespace vxa::cli
