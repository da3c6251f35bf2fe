#include "app/cli/Help.h"

#include <vector>

#include "app/HelpText.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Commands.h"
#include "link/InstrumentProtocol.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

std::string FileKinds() {
  std::string kinds;
  for (uint32_t kind = 0; kind < kFileKindCount; ++kind) {
    kinds += (kinds.empty() ? "" : ", ") + std::string(kFileKindNames[kind]);
  }
  return kinds;
}

std::vector<HelpRow> CommandRows() {
  std::vector<HelpRow> rows;
  for (const CommandEntry& entry : Commands()) {
    HelpRow row{CommandSynopsis(entry), VXA_MSG(entry.help)};
    if (entry.command == Command::kRead) row.text = FormatText(row.text.c_str(), FileKinds().c_str());
    rows.push_back(std::move(row));
  }
  return rows;
}

// A few command lines that show the commands at work, each under what it does.
std::string Examples(const std::string& program) {
  const struct {
    int32_t text;
    const char* arguments;
  } examples[] = {
      {msg::kExampleUpdate, "update"},
      {msg::kExampleDevice, "--device 4410018 update"},
      {msg::kExampleAll, "update --all"},
      {msg::kExampleReadToStandardOutput, "read dev_info - > dev_info.bin"},
  };
  std::string text = std::string(VXA_MSG(msg::kHelpExamples)) + "\n";
  for (const auto& example : examples) {
    text += "  " + WrapText(VXA_MSG(example.text), kHelpWidth, 2, 2) + "\n";
    text += "    " + program + " " + example.arguments + "\n";
  }
  return text;
}

}  // namespace

std::string CliHelp(const std::string& program) {
  std::vector<HelpRow> options = OptionHelpRows();
  options.push_back({"--", VXA_MSG(msg::kHelpEndOfOptions)});
  return FormatText(VXA_MSG(msg::kHelpUsage), program.c_str()) + "\n\n" +
         VXA_MSG(msg::kHelpCommands) + "\n" + HelpRows(CommandRows()) + "\n" +
         VXA_MSG(msg::kHelpOptions) + "\n" + HelpRows(options) + "\n" +
         WrapText(VXA_MSG(msg::kHelpExitCodes), kHelpWidth, 0, 0) + "\n\n" + Examples(program);
}

}  // namespace vxa::cli
