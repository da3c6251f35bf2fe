#include "app/cli/TerminalText.h"

#include <cstdlib>

#include "Version.h"
#include "app/cli/Console.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// Lower case for ASCII letters and for the Cyrillic capitals of UTF-8 (А..Я, Ё); other bytes pass.
std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 'A' && byte <= 'Z') {
      out.push_back(static_cast<char>(byte - 'A' + 'a'));
    } else if (byte == 0xD0 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[++i]);
      if (next >= 0x90 && next <= 0x9F) {  // А..П -> а..п
        out += {static_cast<char>(0xD0), static_cast<char>(next + 0x20)};
      } else if (next >= 0xA0 && next <= 0xAF) {  // Р..Я -> р..я
        out += {static_cast<char>(0xD1), static_cast<char>(next - 0x20)};
      } else if (next == 0x81) {  // Ё -> ё
        out += {static_cast<char>(0xD1), static_cast<char>(0x91)};
      } else {
        out += {static_cast<char>(byte), static_cast<char>(next)};
      }
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(kBlanks);
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::string PlainTerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r' || byte == '\n') {
      if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.push_back('\n');
      lineStart = true;
      continue;
    }
    // The blanks that centre a line in a box only push it off the left edge of a terminal.
    if (byte == ' ' || byte == '\t') {
      if (!lineStart) out.push_back(' ');
      continue;
    }
    lineStart = false;
    // Texts from the instrument reach the terminal too: no control character (ESC above all)
    // may drive it. C1 controls are U+0080..U+009F, in UTF-8 0xC2 0x80..0x9F.
    const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (byte < 0x20 || byte == 0x7F || c1) {
      const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : byte;
      out += FormatText("\\x%02x", code);
      continue;
    }
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

void PrintText(std::FILE* stream, const std::string& text) {
  std::string plain = PlainTerminalText(text);
  if (plain.empty() || plain.back() != '\n') plain.push_back('\n');
  WriteText(stream, plain);
}

std::optional<bool> ParseYesNo(std::string_view answer) {
  const std::string folded = FoldCase(Trim(answer));
  for (std::string_view yes : {"y", "yes", "д", "да"}) {
    if (folded == yes) return true;
  }
  for (std::string_view no : {"n", "no", "н", "нет"}) {
    if (folded == no) return false;
  }
  return std::nullopt;
}

std::string FormatProgressLine(const ProgressLine& line) {
  std::string text = line.stage;
  if (!line.label.empty()) {
    if (!text.empty()) text += ' ';
    text += line.label;
  }
  if (line.bytesPerSecond) {
    text += ", ";
    text += FormatText(VXA_MSG(msg::kProgressRate), *line.bytesPerSecond / 1024.0);
  }
  if (line.timeLeft) {
    const auto seconds = static_cast<int>(line.timeLeft->count());
    text += ", ";
    text += FormatText(VXA_MSG(msg::kProgressTimeLeft), seconds / 60, seconds % 60);
  }
  return text;
}

std::string FitProgressLine(const std::string& head, ProgressLine line, size_t columns) {
  std::string text = head + FormatProgressLine(line);
  for (int field = 0; columns != 0 && TextWidth(text) >= columns && field < 3; ++field) {
    if (field == 0) line.timeLeft.reset();
    if (field == 1) line.bytesPerSecond.reset();
    if (field == 2) line.label.clear();
    text = head + FormatProgressLine(line);
  }
  return FitToColumns(text, columns);
}

size_t TextWidth(std::string_view text) {
  size_t characters = 0;
  // A byte 10xxxxxx continues a character; any other starts one.
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return characters;
}

size_t LineWidth(std::FILE* stream) {
  constexpr size_t kStandardWidth = 80;
  if (const size_t columns = TerminalColumns(stream); columns > 0) return columns;
  // Shells set COLUMNS for their own use; exported, it is the next best guess.
  const char* variable = std::getenv("COLUMNS");
  if (variable == nullptr) return kStandardWidth;
  char* end = nullptr;
  const long columns = std::strtol(variable, &end, 10);
  return end != variable && *end == '\0' && columns > 0 && columns < 10000
             ? static_cast<size_t>(columns)
             : kStandardWidth;
}

std::string FitToColumns(std::string_view text, size_t columns) {
  if (columns == 0) return std::string(text);
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // A byte 10xxxxxx continues a character; any other starts one.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++characters == columns) {
      return std::string(text.substr(0, i));
    }
  }
  return std::string(text);
}

std::string VersionChangeText(const InstrumentFacts& facts) {
  if (facts.programVersion == VXA_PRODUCT_VERSION) {
    return FormatText(VXA_MSG(msg::kSameVersionAgain), facts.serialNumber.c_str(),
                      facts.programVersion.c_str());
  }
  return FormatText(VXA_MSG(msg::kVersionChange), facts.serialNumber.c_str(),
                    facts.programVersion.c_str(), VXA_PRODUCT_VERSION);
}

std::string BridgeLine(const BridgeInfo& bridge) {
  auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
  return FormatText(VXA_MSG(msg::kBridgeLine), bridge.index, bridge.description.c_str(),
                    orDash(bridge.location).c_str(), orDash(bridge.serialNumber).c_str());
}

const char* InterruptionConsequence(const Outcome& outcome, Asked asked) {
  if (outcome.newVersionReported) return VXA_MSG(msg::kNewVersionClockNotSet);
  if (outcome.kernelRequested) return VXA_MSG(msg::kInstallUnderWay);
  // A read changes nothing on the instrument, whenever it stops: no word of firmware or install.
  if (asked == Asked::kRead) return VXA_MSG(msg::kInstrumentUnchanged);
  return VXA_MSG(msg::kFirmwareUntouched);
}

}  // namespace vxa::cli
