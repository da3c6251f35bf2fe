// The table that ends an update of several instruments, and the notes under it.
#include <algorithm>
#include <string>
#include <vector>

#include "app/HelpText.h"
#include "app/cli/StationDisplay.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

using Cells = std::vector<std::string>;

enum Column : size_t { kSerial, kPort, kOutcome, kVersion, kTime, kColumnCount };
constexpr size_t kGap = 2;
// A note's text starts after "1) " and its further lines under that.
constexpr size_t kNoteIndent = 3;

struct Table {
  std::vector<Cells> header;  // its lines: one, or two when the headers stand on two
  std::vector<Cells> rows;
  std::vector<bool> shown = std::vector<bool>(kColumnCount, true);
};

Cells Headers() {
  return {VXA_MSG(msg::kColumnSerial), VXA_MSG(msg::kColumnPort), VXA_MSG(msg::kColumnOutcome),
          VXA_MSG(msg::kColumnVersion), VXA_MSG(msg::kColumnTime)};
}

// Each header of two or more words on two lines: the first word, then the rest.
std::vector<Cells> HeadersOnTwoLines() {
  std::vector<Cells> lines(2, Cells(kColumnCount));
  const Cells headers = Headers();
  for (size_t column = 0; column < kColumnCount; ++column) {
    const size_t space = headers[column].find(' ');
    lines[0][column] = headers[column].substr(0, space);
    if (space != std::string::npos) lines[1][column] = headers[column].substr(space + 1);
  }
  return lines;
}

std::vector<size_t> Widths(const Table& table) {
  std::vector<size_t> widths(kColumnCount, 0);
  for (const std::vector<Cells>* part : {&table.header, &table.rows}) {
    for (const Cells& row : *part) {
      for (size_t column = 0; column < kColumnCount; ++column) {
        widths[column] = std::max(widths[column], TextWidth(row[column]));
      }
    }
  }
  return widths;
}

size_t TotalWidth(const Table& table) {
  const std::vector<size_t> widths = Widths(table);
  size_t total = 0;
  for (size_t column = 0; column < kColumnCount; ++column) {
    if (table.shown[column]) total += widths[column] + (total == 0 ? 0 : kGap);
  }
  return total;
}

std::string Render(const Table& table) {
  const std::vector<size_t> widths = Widths(table);
  size_t last = 0;
  for (size_t column = 0; column < kColumnCount; ++column) last = table.shown[column] ? column : last;
  std::string text;
  for (const std::vector<Cells>* part : {&table.header, &table.rows}) {
    for (const Cells& row : *part) {
      std::string line;
      for (size_t column = 0; column <= last; ++column) {
        if (!table.shown[column]) continue;
        line += row[column];
        if (column < last) line += std::string(widths[column] - TextWidth(row[column]) + kGap, ' ');
      }
      // A header's second line may end in empty cells.
      line.erase(line.find_last_not_of(' ') + 1);
      text += line + "\n";
    }
  }
  return text;
}

// Narrower, step by step, until it fits: the headers on two lines, then without the time, then
// without the new version (the same for every instrument updated).
void Narrow(Table* table, size_t columns) {
  if (TotalWidth(*table) <= columns) return;
  table->header = HeadersOnTwoLines();
  for (const Column column : {kTime, kVersion}) {
    if (TotalWidth(*table) <= columns) return;
    table->shown[column] = false;
  }
}

}  // namespace

std::string ShortOutcome(const StationResult& result) {
  const Outcome& outcome = result.outcome;
  if (outcome.kind == Outcome::kUpdated) return VXA_MSG(msg::kOutcomeUpdated);
  if (outcome.kind == Outcome::kUpToDate) return VXA_MSG(msg::kStationUpToDate);
  if (result.interrupted) return VXA_MSG(msg::kShortInterrupted);
  if (!outcome.failure) return outcome.kind == Outcome::kFound ? "" : VXA_MSG(msg::kShortNotAnswering);
  switch (outcome.failure->kind) {
    case FailureKind::kRefused: return VXA_MSG(msg::kShortRefused);
    case FailureKind::kLinkFailed: return VXA_MSG(msg::kShortLinkFailed);
    case FailureKind::kNotAnswering: return VXA_MSG(msg::kShortNotAnswering);
    case FailureKind::kProtocolError: return VXA_MSG(msg::kShortProtocolError);
    case FailureKind::kVerifyMismatch: return VXA_MSG(msg::kShortVerifyMismatch);
    case FailureKind::kVersionTimeout: return VXA_MSG(msg::kShortVersionTimeout);
    case FailureKind::kClockNotSet: return VXA_MSG(msg::kShortClockNotSet);
    case FailureKind::kNoDevice: return VXA_MSG(msg::kShortNotFound);
    case FailureKind::kInterrupted: return VXA_MSG(msg::kShortInterrupted);
    default: return VXA_MSG(msg::kShortFailed);
  }
}

std::string ShortEnding(const Station& station, size_t index, const StationProgress& look) {
  const std::string outcome = ShortOutcome(station.Result(index));
  if (!look.unplugged) return outcome;
  return outcome + (outcome.empty() ? "" : "; ") + VXA_MSG(msg::kStationUnplugged);
}

std::string StationTable(const Station& station, size_t columns) {
  // Within the width, and short of its last column: a console may wrap a line that fills it.
  const size_t width = columns > 1 ? columns - 1 : columns;
  Table table;
  table.header.push_back(Headers());
  std::string notes;
  int noted = 0;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    const StationProgress look = station.Look(index);
    std::string outcome = ShortEnding(station, index, look);
    if (result.outcome.kind != Outcome::kUpdated && result.outcome.kind != Outcome::kUpToDate) {
      const std::string text = StationEnding(station, index, look);
      outcome += FormatText(" (%d)", ++noted);
      const std::string number = FormatText("%d) ", noted);
      notes += number + WrapText(text, width, TextWidth(number), kNoteIndent) + "\n";
    }
    table.rows.push_back({result.serialNumber.empty() ? "-" : OneLine(result.serialNumber),
                          PortOf(result.bridge), outcome,
                          result.newVersion.empty() ? "-" : OneLine(result.newVersion),
                          MinutesAndSeconds(result.elapsed)});
  }
  Narrow(&table, width);
  return Render(table) + (notes.empty() ? "" : "\n" + notes);
}

}  // namespace vxa::cli
