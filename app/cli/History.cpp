// history FILE: the records --record appended, read back line by line. A line that is no whole
// record (torn by a power cut, or written by something else) is passed over with its number, and
// the rest are shown all the same.
#include "app/cli/History.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/cli/Commands.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// Characters, not bytes: the texts are UTF-8.
size_t Width(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A text of the record made plain for a terminal, on one line.
std::string OneLine(const std::string& text) {
  std::string line = PlainTerminalText(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : OneLine(text); }

// How the attempt ended, short: the word of the table for an update, else the text the user read.
std::string OutcomeCell(const RecordEntry& entry) {
  if (entry.outcome == "updated") return VXA_MSG(msg::kOutcomeUpdated);
  if (!entry.text.empty()) return OneLine(entry.text);
  if (entry.outcome == "interrupted") return VXA_MSG(msg::kAbortedByUser);
  return entry.outcome;
}

CommandResult Refused(Output& output, Failure failure) {
  output.Failed(failure);
  return {Outcome(Outcome::kNone, std::move(failure))};
}

Failure Unreadable(const std::string& file, const std::string& why) {
  return {FailureKind::kLocal,
          FormatText(VXA_MSG(msg::kRecordOpenFailed), file.c_str(), why.c_str())};
}

}  // namespace

std::string HistoryTable(const std::vector<RecordEntry>& entries, size_t columns) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({VXA_MSG(msg::kColumnWhen), VXA_MSG(msg::kColumnSerial),
                  VXA_MSG(msg::kColumnVersions), VXA_MSG(msg::kColumnOutcome)});
  for (const RecordEntry& entry : entries) {
    rows.push_back({LocalTimeOfIsoUtc(entry.startUtc), OrDash(entry.serialNumber),
                    OrDash(entry.versionBefore) + " → " + OrDash(entry.versionAfter),
                    OutcomeCell(entry)});
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], Width(row[column]));
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) line += std::string(widths[column] - Width(row[column]) + 2, ' ');
    }
    // The outcome, last, gives way: the line never wraps.
    table += FitToColumns(line, columns) + "\n";
  }
  return table;
}

CommandResult ExecuteHistory(const CliOptions& options, Output& output) {
  const std::string& file = options.file;
  std::error_code error;
  // A link is followed; what it leads to must be a file, not a device, a pipe or a folder.
  const auto status = std::filesystem::status(file, error);
  if (error) return Refused(output, Unreadable(file, error.message()));
  if (status.type() != std::filesystem::file_type::regular) {
    return Refused(output, {FailureKind::kLocal,
                            FormatText(VXA_MSG(msg::kRecordNotRegular), file.c_str())});
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return Refused(output, Unreadable(file, std::strerror(errno)));
  size_t number = 0;
  size_t shown = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const std::optional<RecordEntry> entry = ReadRecordLine(line);
    if (!entry) {
      output.RecordSkipped(file, number);
      continue;
    }
    if (!options.device.empty() && entry->serialNumber != options.device) continue;
    output.RecordRead(*entry);
    ++shown;
  }
  if (in.bad()) return Refused(output, Unreadable(file, std::strerror(errno)));
  if (shown == 0) output.Note(VXA_MSG(msg::kHistoryEmpty));
  return {Outcome(Outcome::kFound)};
}

}  // namespace vxa::cli
