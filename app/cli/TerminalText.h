#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/InstrumentFacts.h"
#include "app/Outcome.h"
#include "link/FtDriver.h"

namespace vxa::cli {

// The catalogue's texts are laid out for message boxes: "\r\n" line ends, leading blanks and tabs.
// On a terminal they become plain line breaks, each line flush left, with single spaces; any other
// control character, which a text from the instrument might carry, is shown as "\xNN" instead of
// reaching the terminal.
std::string PlainTerminalText(std::string_view text);
// The text made plain as above, on a line of its own.
void PrintText(std::FILE* stream, const std::string& text);

// An answer typed at the confirmation: yes/no in either language, any letter case, surrounding
// blanks ignored ("y", "yes", "д", "да" / "n", "no", "н", "нет"). Nothing for anything else.
std::optional<bool> ParseYesNo(std::string_view answer);

// What the progress line shows: the stage, the numbers the loader put in its label, the rate and
// the time left when they are known.
struct ProgressLine {
  std::string stage;
  std::string label;
  std::optional<double> bytesPerSecond;
  std::optional<std::chrono::seconds> timeLeft;
};
std::string FormatProgressLine(const ProgressLine& line);
// `head` and the progress line within `columns` (fewer characters, as FitToColumns): whole fields
// go, the least needed first (the time left, the rate, then the figures), so that no number is
// ever shown cut; only a head and stage that alone are too long are cut.
std::string FitProgressLine(const std::string& head, ProgressLine line, size_t columns);

// The characters of a UTF-8 text (code points): a terminal gives each of them a column.
size_t TextWidth(std::string_view text);
// How wide the lines written to `stream` may be: its terminal's width, else COLUMNS, else 80.
size_t LineWidth(std::FILE* stream);

// The text cut to fewer characters (UTF-8 code points) than `columns`, so that a line redrawn in
// place never wraps: a wrapped line could not be rubbed out by a carriage return. 0 leaves the
// text whole (the width is not known).
std::string FitToColumns(std::string_view text, size_t columns);

// What an update will change on the instrument, for its confirmation: its serial number and its
// program version now and after (the one this program carries), or that it has that one already.
std::string VersionChangeText(const InstrumentFacts& facts);

// The line `list` prints for a bridge: its index, description, port and serial number.
std::string BridgeLine(const BridgeInfo& bridge);

// The line that follows "Прервано пользователем": whether the instrument was changed, or is
// installing, by what was asked of it and whether the install request went out.
const char* InterruptionConsequence(const Outcome& outcome, Asked asked);

}  // namespace vxa::cli
