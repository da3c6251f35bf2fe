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
  for (const CommandSpec& spec : Commands()) {
    HelpRow row{spec.name, VXA_MSG(spec.help)};
    if (spec.arguments != 0) row.label += std::string(" ") + VXA_MSG(spec.arguments);
    if (spec.command == Command::kRead) row.text = FormatText(row.text.c_str(), FileKinds().c_str());
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

std::string CliHelp(const std::string& program) {
  std::vector<HelpRow> options = OptionHelpRows();
  options.push_back({"--", VXA_MSG(msg::kHelpEndOfOptions)});
  return FormatText(VXA_MSG(msg::kHelpUsage), program.c_str()) + "\n\n" +
         VXA_MSG(msg::kHelpCommands) + "\n" + HelpRows(CommandRows()) + "\n" +
         VXA_MSG(msg::kHelpOptions) + "\n" + HelpRows(options) + "\n" +
         WrapText(VXA_MSG(msg::kHelpExitCodes), kHelpWidth, 0, 0) + "\n";
}

}  // namespace vxa::cli
