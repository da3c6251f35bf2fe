// The terminal program run as a child process against its built-in simulated instrument, the way
// a script or a production line runs it: arguments in, texts on stdout and stderr, an exit code.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "Version.h"
#include "text/Messages.h"
#include "link/Clock.h"
#include "sim/SimBus.h"
#include "app/UpdateRecord.h"
#include "app/image/Resources.h"
#include "base/Sha256.h"
#include "app/cli/Help.h"
#include "tests/cli/ChildProcess.h"
#include "tests/cli/JsonLines.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

const std::string kProgram = VXA_CLI_BINARY;

// The catalogue's box layout as a terminal shows it, written out here independently of the
// program's own conversion: plain line ends, each line flush left.
std::string Plain(std::string text) {
  std::string out;
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\t' || text[i] == ' ') {
      if (!lineStart) out += ' ';
      continue;
    }
    lineStart = text[i] == '\n';
    out += text[i];
  }
  return out;
}

std::string Msg(int id) {
  return Plain(MessageText(id, 0));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Characters, not bytes.
size_t Width(const std::string& text) {
  size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return characters;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

std::vector<std::string> Fast(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--sim", "--fast"});
  return arguments;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The four lines of the default simulated instrument, from its own settings.
std::vector<std::string> ExpectedInfoLines() {
  const sim::InstrumentConfig config;
  const auto& v = config.programVersion;
  return {
      StringTableText(str::kLabelModel) + config.model,
      StringTableText(str::kLabelSerial) + std::to_string(config.serialNumber),
      StringTableText(str::kLabelDeviceVersion) + std::to_string(config.deviceVersionMajor) + "." +
          std::to_string(config.deviceVersionMinor),
      StringTableText(str::kLabelProgramVersion) + std::to_string(v[0]) + "." +
          std::to_string(v[1]) + "." + std::to_string(v[2]),
  };
}

// Nothing but the files a test expects: no temporary file of a read may stay behind.
std::vector<std::string> FilesIn(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CliProcessTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;  // the child runs here: log files and read files land in it
};

TEST_F(CliProcessTest, VersionAndHelpNeedNoCommand) {
  // The version, then what is inside: the boot image's size and hash (this build's is the
  // placeholder), the licence, where to report a fault.
  for (const char* language : {"ru", "en"}) {
    ChildResult version = RunChild(kProgram, {"--lang", language, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    const std::vector<std::string> lines = Lines(version.out);
    ASSERT_EQ(lines.size(), 5u) << version.out;
    EXPECT_EQ(lines[0], std::string("vxa4410-cli ") + VXA_PRODUCT_VERSION);
    const EmbeddedResource& image = BuiltInResources().front();
    const std::string size = std::to_string(image.size);
    EXPECT_TRUE(Contains(lines[1], " " + size + " ")) << lines[1];
    EXPECT_TRUE(Contains(lines[1], "VXA_BOOT_IMAGE") && Contains(lines[1], language[0] == 'e' ? "placeholder" : "заглушка")) << lines[1];
    EXPECT_EQ(lines[2], "SHA-256: " + Sha256::HexOf({image.data, image.size}));
    EXPECT_TRUE(Contains(lines[3], "2026")) << lines[3];
    EXPECT_TRUE(Contains(lines[4], "<") && Contains(lines[4], "@")) << lines[4];
    for (const std::string& line : lines) EXPECT_LE(Width(line), 80u) << line;
  }

  ChildResult help = RunChild(kProgram, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out, cli::CliHelp("vxa4410-cli"));
  EXPECT_EQ(help.err, "");

  // In both languages within 80 columns, and ending with examples of the commands at work.
  for (const char* language : {"ru", "en"}) {
    ChildResult shown = RunChild(kProgram, {"--lang", language, "--help"});
    EXPECT_EQ(shown.exitCode, 0);
    const std::vector<std::string> lines = Lines(shown.out);
    for (const std::string& line : lines) EXPECT_LE(Width(line), 80u) << line;
    ASSERT_GE(lines.size(), 9u);
    const std::vector<std::string> examples(lines.end() - 8, lines.end());
    for (size_t index = 1; index < examples.size(); index += 2) {
      EXPECT_TRUE(examples[index].starts_with("    vxa4410-cli ")) << examples[index];
    }
    EXPECT_EQ(examples[1], "    vxa4410-cli update");
    EXPECT_TRUE(Contains(examples[3], " --device ")) << examples[3];
    EXPECT_TRUE(Contains(examples[5], " --all")) << examples[5];
    EXPECT_TRUE(Contains(examples[7], " read dev_info - ")) << examples[7];
  }
}

// UTF-8 Cyrillic letters start with 0xD0 or 0xD1.
bool HasCyrillic(const std::string& text) {
  return text.find('\xD0') != std::string::npos || text.find('\xD1') != std::string::npos;
}

// The command line first, then an environment that asks for English explicitly, else Russian.
TEST_F(CliProcessTest, TheLanguageComesFromTheCommandLineThenAnEnglishLocale) {
  struct Row {
    std::vector<std::string> options;
    std::vector<std::string> environment;
    bool russian;
  };
  const Row rows[] = {
      {{"--lang", "en"}, {}, false},
      {{}, {"LANG=en_US.UTF-8"}, false},
      {{}, {"LANG=C"}, true},
      {{"--lang=ru"}, {"LC_ALL=en_GB.UTF-8"}, true},
      {{"--lang", "EN"}, {}, false},
      {{"--lang=Ru"}, {"LANGUAGE=en"}, true},
      // The GNU list first: its first language of ours, past others and empty entries.
      {{}, {"LANGUAGE=de::en_GB:ru", "LC_ALL=ru_RU.UTF-8"}, false},
      {{}, {"LANGUAGE=ru:en", "LANG=en_US.UTF-8"}, true},
      {{}, {"LANGUAGE=", "LANG=en_US.UTF-8"}, false},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = row.options;
    for (const char* a : {"--sim", "--fast", "--yes", "update"}) arguments.emplace_back(a);
    SCOPED_TRACE(arguments.front() + (row.environment.empty() ? "" : " " + row.environment[0]));
    ChildResult r = RunChild(kProgram, arguments, row.environment);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(HasCyrillic(r.out + r.err), row.russian) << r.out << r.err;
  }
  ChildResult unknown = RunChild(kProgram, {"--lang", "de", "--sim", "info"}, {"LANG=en_US.UTF-8"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_EQ(unknown.err, "vxa4410-cli: invalid value of option --lang: de (try vxa4410-cli --help)\n");
}

// Each bridge with its index, description, port and the bridge's own serial number.
std::string BridgeLine(unsigned index) {
  return FormatText(MessageText(msg::kBridgeLine, 0), index, "VXA-4410 Vibration Analyzer",
                    ("SIM" + std::to_string(index)).c_str(),
                    FormatText("FTSIM%03u", index + 1).c_str());
}

TEST_F(CliProcessTest, ListCountsTheSimulatedBridge) {
  ChildResult r = RunChild(kProgram, Fast({"list"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, FormatText(MessageText(msg::kDeviceCount, 0), 1u) + "\n" + BridgeLine(0) + "\n");
}

TEST_F(CliProcessTest, ListWithNothingAttachedCountsZeroAndSucceeds) {
  ChildResult r = RunChild(kProgram, Fast({"--sim-instruments", "0", "list"}));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, FormatText(MessageText(msg::kDeviceCount, 0), 0u) + "\n");
  EXPECT_EQ(r.err, Msg(msg::kNoDeviceConnected) + "\n");
}

TEST_F(CliProcessTest, ListShowsEveryBridge) {
  ChildResult r = RunChild(kProgram, Fast({"list", "--sim-instruments=2"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{FormatText(MessageText(msg::kDeviceCount, 0), 2u),
                                      BridgeLine(0), BridgeLine(1)}));
}

// --device picks one of three by its index, its port, its bridge's serial number or its
// instrument's serial number; a serial number no instrument has is an instrument not found.
TEST_F(CliProcessTest, DeviceSelectsOneInstrumentAmongSeveral) {
  const sim::InstrumentConfig config;
  const std::string serialLabel = StringTableText(str::kLabelSerial);
  const struct {
    const char* device;
    int serialOffset;  // the instrument expected, by its serial number; -1: none
  } rows[] = {{"4410018", 1}, {"2", 2}, {"SIM1", 1}, {"FTSIM003", 2}, {"999", -1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.device);
    ChildResult r = RunChild(kProgram, Fast({"--sim-instruments", "3", "--device", row.device,
                                             "info"}));
    if (row.serialOffset < 0) {
      EXPECT_EQ(r.exitCode, 3);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, FormatText(MessageText(msg::kNoSuchInstrument, 0), row.device) + "\n");
      continue;
    }
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[1], serialLabel + std::to_string(config.serialNumber + row.serialOffset));
  }
}

TEST_F(CliProcessTest, InfoAllShowsEveryInstrumentUnderItsBridge) {
  ChildResult r = RunChild(kProgram, Fast({"--sim-instruments", "2", "info", "--all"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> expected = {BridgeLine(0)};
  for (const std::string& line : ExpectedInfoLines()) expected.push_back(line);
  expected.push_back("");
  expected.push_back(BridgeLine(1));
  std::vector<std::string> second = ExpectedInfoLines();
  second[1] = StringTableText(str::kLabelSerial) + std::to_string(sim::InstrumentConfig{}.serialNumber + 1);
  for (const std::string& line : second) expected.push_back(line);
  EXPECT_EQ(Lines(r.out), expected);
}

// The notes under a table as one text: each note's lines joined by a blank, indents dropped.
std::string JoinedNotes(const std::vector<std::string>& lines, size_t from, size_t to) {
  std::string joined;
  for (size_t index = from; index < to; ++index) {
    const std::string& line = lines[index];
    joined += (joined.empty() ? "" : " ") + line.substr(line.find_first_not_of(' '));
  }
  return joined;
}

// update --all: one row per instrument in the table on stdout, exit 0 only when every one was
// updated. A fault aimed at one instrument ends only that one's update, with its short outcome
// and a note's number in its row and its text in the note under the table; the one whose
// read-back differs never gets the install request (its log has no "kernel"). Every line stays
// within the width (COLUMNS off a terminal, else 80), in both languages.
TEST_F(CliProcessTest, UpdateAllEndsWithATableOfEveryInstrument) {
  const struct {
    const char* instruments;
    const char* fault;
    int failing;  // the instrument whose row shows the failure; -1: none
    int failure;  // its message id; -1: not looked at
    const char* language;
    const char* columns;
  } rows[] = {
      {"3", nullptr, -1, -1, "ru", nullptr},
      {"4", "corrupt-read-back:1:0:5000@3", 3, msg::kVerifiedDataMismatch, "ru", nullptr},
      {"2", "unplug:1:20@1", 1, -1, "ru", nullptr},
      {"4", "corrupt-read-back:1:0:5000@2", 2, msg::kVerifiedDataMismatch, "ru", "60"},
      {"4", "corrupt-read-back:1:0:5000@0", 0, msg::kVerifiedDataMismatch, "en", "60"},
      {"4", "corrupt-read-back:1:0:5000@1", 1, msg::kVerifiedDataMismatch, "en", "80"},
  };
  const sim::InstrumentConfig config;
  const int32_t language = CurrentMessageLanguage();
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.fault != nullptr ? row.fault : "no fault") + " " + row.language);
    SetMessageLanguage(row.language == std::string("en") ? kLanguageEnglish : kLanguageRussian);
    const std::string updated = Msg(msg::kOutcomeUpdated);
    std::vector<std::string> arguments = {"--lang", row.language, "--sim-instruments",
                                          row.instruments, "--log", "--yes", "update", "--all"};
    if (row.fault != nullptr) arguments.insert(arguments.begin(), {"--sim-fault", row.fault});
    std::vector<std::string> environment;
    if (row.columns != nullptr) environment.push_back(std::string("COLUMNS=") + row.columns);
    ChildResult r = RunChild(kProgram, Fast(arguments), environment);
    EXPECT_EQ(r.exitCode, row.failing < 0 ? 0 : 1) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    const int count = std::stoi(row.instruments);
    // The rows, then (when one failed) a blank line and its note, then the summary.
    ASSERT_GE(lines.size(), static_cast<size_t>(count) + (row.failing < 0 ? 2 : 4)) << r.out;
    const size_t width = row.columns != nullptr ? std::stoul(row.columns) : 80;
    for (const std::string& line : lines) EXPECT_LT(Width(line), width) << line;
    // A narrow table has its headers on two lines, each header's first word on the first.
    const std::string header = Msg(msg::kColumnSerial);
    EXPECT_TRUE(lines[0].starts_with(header.substr(0, header.find(' ')))) << lines[0];
    const size_t headerLines = lines[0].starts_with(header) ? 1 : 2;
    for (int index = 0; index < count; ++index) {
      const std::string serial = std::to_string(config.serialNumber + index);
      const std::string& line = lines[static_cast<size_t>(index) + headerLines];
      EXPECT_TRUE(line.starts_with(serial + " ")) << line;
      EXPECT_TRUE(Contains(line, " SIM" + std::to_string(index) + " ")) << line;
      const std::string log = dir_.Read("log_file-" + serial + ".txt");
      // "kernel" and its terminating zero: the install request.
      const bool installRequested = Contains(log, "CMD Code=50 Len=7");
      if (index == row.failing) {
        EXPECT_FALSE(Contains(line, updated)) << line;
        EXPECT_FALSE(Contains(line, VXA_PRODUCT_VERSION)) << line;
        EXPECT_TRUE(Contains(line, " (1) ")) << line;
        if (row.failure >= 0) {
          EXPECT_TRUE(Contains(line, Msg(msg::kShortVerifyMismatch) + " (1) ")) << line;
          const size_t notes = static_cast<size_t>(count) + headerLines + 1;
          EXPECT_EQ(lines[notes - 1], "");
          const std::string note = JoinedNotes(lines, notes, lines.size() - 1);
          EXPECT_TRUE(note.starts_with("1) " + Msg(row.failure))) << note;
          EXPECT_TRUE(Contains(note, Plain(MessageText(msg::kFirmwareUnchangedRepeat, 0))))
              << note;
        }
        EXPECT_FALSE(installRequested) << serial;
      } else {
        EXPECT_TRUE(Contains(line, updated + " ")) << line;
        EXPECT_TRUE(Contains(line, std::string(" ") + VXA_PRODUCT_VERSION + " ")) << line;
        EXPECT_TRUE(installRequested) << serial;
      }
    }
    const int updatedCount = row.failing < 0 ? count : count - 1;
    EXPECT_EQ(lines.back(), FormatText(MessageText(msg::kStationSummary, 0), updatedCount, count));
  }
  SetMessageLanguage(language);
}

// --json: every command's output is JSON Lines that keep to docs/json.md, and nothing else, with
// the outcome of each instrument named by its machine word.
TEST_F(CliProcessTest, JsonOutputKeepsToItsSchemaForEveryCommand) {
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* summary;       // the last object's outcome
    size_t instruments;        // the summary's count
    std::vector<std::string> outcomes;  // each instrument's, in order of index
  } rows[] = {
      {{"--json", "list"}, 0, "found", 0, {}},
      {{"--json", "info"}, 0, "found", 1, {"found"}},
      {{"--json", "--sim-instruments", "2", "info", "--all"}, 0, "found", 2, {"found", "found"}},
      {{"--json", "--sim-instruments", "4", "--yes", "update", "--all"}, 0, "updated", 4,
       {"updated", "updated", "updated", "updated"}},
      {{"--json", "--sim-instruments", "4", "--sim-fault", "unplug:1:20@2", "--yes", "update",
        "--all"},
       1, "failed", 4, {"updated", "updated", "link_failed", "updated"}},
      {{"--json", "--sim-fault", "corrupt-read-back:1:0:5000", "--yes", "update"}, 1,
       "verify_mismatch", 1, {"verify_mismatch"}},
      {{"--json", "read", "dev_info", "info.bin"}, 0, "file_read", 1, {"file_read"}},
      // A file name that is no UTF-8 still gives valid JSON.
      {{"--json", "read", "dev_info", "\xff\xfe.bin"}, 0, "file_read", 1, {"file_read"}},
      {{"--json", "--sim-instruments", "0", "info"}, 3, "no_device", 0, {}},
      {{"--json", "update"}, 2, "usage_error", 0, {}},
  };
  for (const auto& row : rows) {
    const std::string name = row.arguments.back() + " " + row.summary;
    ChildResult r = RunChild(kProgram, Fast(row.arguments));
    EXPECT_EQ(r.exitCode, row.exitCode) << name << r.err;
    std::vector<nlohmann::json> objects;
    EXPECT_EQ(CheckJsonLines(r.out, &objects), "") << name;
    if (objects.empty()) continue;
    EXPECT_EQ(objects.back().value("outcome", ""), row.summary) << name;
    EXPECT_EQ(objects.back().value("exit_status", -1), row.exitCode) << name;
    EXPECT_EQ(objects.back().value("instruments", 0u), row.instruments) << name;
    std::vector<std::string> outcomes;
    for (const auto& outcome : OfType(objects, "outcome")) {
      outcomes.push_back(outcome["outcome"]);
      // The unplugged one's cause is named for programs too; the others have none.
      const bool unplugged = outcome["outcome"] == "link_failed";
      EXPECT_EQ(outcome["cause_code"], unplugged ? nlohmann::json("disconnected") : nullptr)
          << name;
    }
    std::sort(outcomes.begin(), outcomes.end());
    std::vector<std::string> expected = row.outcomes;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outcomes, expected) << name;
    // stderr carries nothing but a usage error's one line.
    EXPECT_EQ(r.err.empty(), row.exitCode != 2) << name << r.err;
  }
}

size_t Occurrences(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// A watched shift in virtual time: 0 comes at once, 1 and 2 at 5 s, 3 at 12 s; 1 is pulled out
// mid-update at 20 s; 0, updated by then, is pulled out at 35 s and back at 40 s with the new
// version, so it is left alone (unless --force). Ctrl-C once the last arrival has ended: each
// arrival was started once, the table names all five, and the one that failed makes it exit 1.
TEST_F(CliProcessTest, AWatchedShiftUpdatesEachArrivalOnceAndEndsOnCtrlC) {
  const std::string upToDate = Msg(msg::kStationUpToDate);
  const std::string unplugged = Msg(msg::kStationUnplugged);
  const struct {
    std::vector<std::string> extra;
    bool json;
    bool force;
  } rows[] = {{{}, false, false}, {{"--json"}, true, false}, {{"--json", "--force"}, true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json ? (row.force ? "json force" : "json") : "text");
    std::vector<std::string> arguments = Fast({"--sim-instruments", "4", "--sim-plug",
                                               "0:0,1:5,2:5,3:12,0:40", "--sim-unplug", "0:35,1:20",
                                               "--yes", "update", "--all", "--watch"});
    arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
    ChildProcess child(kProgram, arguments);
    ASSERT_TRUE(child.Started());
    const bool ended =
        row.json ? child.WaitForStdout([](const std::string& out) {
          return Occurrences(out, "\"type\":\"outcome\"") == 5;
        })
                 : child.WaitForStderr([&](const std::string& err) {
                     return Occurrences(err, "4410017: " + Msg(msg::kOutcomeUpdated)) +
                                Occurrences(err, "4410017: " + upToDate) == 2;
                   });
    ASSERT_TRUE(ended);
    ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
    const ChildResult r = child.Finish();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    if (!row.json) {
      // Four write requests: the returning instrument with the new version was not updated.
      EXPECT_EQ(Occurrences(r.err, Msg(msg::kStateWriteRequest)), 4u) << r.err;
      EXPECT_EQ(Occurrences(r.err, ": " + unplugged + "\n"), 2u) << r.err;
      const std::vector<std::string> lines = Lines(r.out);
      // The header, five rows, a blank line, the failed one's note, the summary.
      ASSERT_GE(lines.size(), 9u) << r.out;
      EXPECT_EQ(lines[6], "");
      EXPECT_TRUE(lines[7].starts_with("1) ")) << lines[7];
      const char* serials[] = {"4410017", "4410018", "4410019", "4410020", "4410017"};
      for (size_t index = 0; index < 5; ++index) {
        EXPECT_TRUE(lines[index + 1].starts_with(serials[index])) << lines[index + 1];
        const bool updated = index == 0 || index == 2 || index == 3;
        EXPECT_EQ(Contains(lines[index + 1], "  " + Msg(msg::kOutcomeUpdated)), updated)
            << lines[index + 1];
        EXPECT_EQ(Contains(lines[index + 1], unplugged), index <= 1) << lines[index + 1];
      }
      EXPECT_TRUE(Contains(lines[5], upToDate)) << lines[5];
      EXPECT_EQ(lines.back(), FormatText(MessageText(msg::kStationSummary, 0), 3, 5));
      continue;
    }
    std::vector<nlohmann::json> objects;
    EXPECT_EQ(CheckJsonLines(r.out, &objects), "");
    std::vector<std::string> outcomes;
    for (const auto& outcome : OfType(objects, "outcome")) outcomes.push_back(outcome["outcome"]);
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, (std::vector<std::string>{"link_failed", row.force ? "updated" : "up_to_date",
                                                  "updated", "updated", "updated"}));
    EXPECT_EQ(OfType(objects, "unplugged").size(), 2u);
    EXPECT_EQ(objects.back().value("exit_status", -1), 1);
    EXPECT_EQ(objects.back().value("updated", 0), row.force ? 4 : 3);
  }
}

// The record file's lines, each parsed; a line that is no JSON fails the test.
std::vector<nlohmann::json> RecordLines(const std::string& text) {
  std::vector<nlohmann::json> records;
  for (const std::string& line : Lines(text)) {
    records.push_back(nlohmann::json::parse(line, nullptr, false));
    EXPECT_EQ(records.back().value("type", ""), "update_record") << line;
  }
  return records;
}

// --record: one line per instrument's attempt, whatever its outcome, naming the image by its
// SHA-256; history --json gives the same records, keeping to the schema.
TEST_F(CliProcessTest, RecordKeepsEveryAttemptWithItsOutcome) {
  const ImageIdentity image = BuiltInImageIdentity();
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    std::vector<std::string> outcomes;  // in order of the lines
    bool installRequested;              // of the last line
    size_t stages;                      // of the last line
  } rows[] = {
      {{"update"}, 0, {"updated"}, true, 4},
      {{"--sim-fault", "corrupt-read-back:1:0:5000", "update"}, 1, {"verify_mismatch"}, false, 3},
      {{"--sim-fault", "unplug:1:20", "update"}, 1, {"link_failed"}, false, 2},
      {{"--sim-fault", "refuse-request", "update"}, 1, {"refused"}, false, 2},
      {{"--sim-fault", "never-report-version", "update"}, 1, {"version_timeout"}, true, 4},
      {{"--sim-fault", "silent", "update"}, 1, {"not_answering"}, false, 0},
      {{"--sim-instruments", "3", "--sim-fault", "unplug:1:20@1", "update", "--all"}, 1,
       {"link_failed", "updated", "updated"}, true, 4},
  };
  for (const auto& row : rows) {
    const std::string name = row.outcomes.front() + " " + std::to_string(row.outcomes.size());
    std::filesystem::remove(dir_.path() / "r.jsonl");
    std::vector<std::string> arguments = {"--yes", "--record", "r.jsonl"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    ChildResult r = RunChild(kProgram, Fast(arguments));
    EXPECT_EQ(r.exitCode, row.exitCode) << name << r.err;
    const std::vector<nlohmann::json> records = RecordLines(dir_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), row.outcomes.size()) << name;
    std::vector<std::string> outcomes;
    for (const nlohmann::json& record : records) {
      outcomes.push_back(record.value("outcome", ""));
      EXPECT_EQ(record.value("image_sha256", ""), image.sha256) << name;
      EXPECT_EQ(record.value("image_size", 0u), image.size) << name;
      EXPECT_TRUE(record["port"].is_string()) << name;
    }
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, row.outcomes) << name;
    const nlohmann::json& last = records.back();
    if (row.outcomes.size() == 1) {
      EXPECT_EQ(last.value("install_requested", !row.installRequested), row.installRequested)
          << name;
      EXPECT_EQ(last["stages"].size(), row.stages) << name;
      EXPECT_EQ(last["new_version"].is_string(), row.outcomes.front() == "updated") << name;
      EXPECT_EQ(last["serial_number"].is_null(), row.outcomes.front() == "not_answering") << name;
    }
    ChildResult history = RunChild(kProgram, {"--json", "history", "r.jsonl"});
    std::vector<nlohmann::json> objects;
    EXPECT_EQ(CheckJsonLines(history.out, &objects), "") << name;
    EXPECT_EQ(OfType(objects, "update_record").size(), records.size()) << name;
  }
}

// Two programs with four instruments each append to one record file: every line whole.
TEST_F(CliProcessTest, TwoProcessesAndFourInstrumentsEachAppendWholeLines) {
  const std::vector<std::string> arguments =
      Fast({"--sim-instruments", "4", "--yes", "--record", "shared.jsonl", "update", "--all"});
  ChildProcess first(kProgram, arguments);
  ChildProcess second(kProgram, arguments);
  ASSERT_TRUE(first.Started() && second.Started());
  EXPECT_EQ(first.Finish().exitCode, 0);
  EXPECT_EQ(second.Finish().exitCode, 0);
  const std::string text = dir_.Read("shared.jsonl");
  ASSERT_TRUE(text.ends_with("\n"));
  const std::vector<nlohmann::json> records = RecordLines(text);
  ASSERT_EQ(records.size(), 8u) << text;
  std::map<std::string, int> serials;
  for (const nlohmann::json& record : records) {
    EXPECT_EQ(record.value("outcome", ""), "updated");
    ++serials[record.value("serial_number", "")];
  }
  EXPECT_EQ(serials.size(), 4u);
  for (const auto& [serial, count] : serials) EXPECT_EQ(count, 2) << serial;
}

// history: the records in the order of the file, a foreign line and a torn last line skipped
// with their numbers in the user's language, one instrument's records with --device.
TEST_F(CliProcessTest, HistorySkipsTornAndForeignLinesAndShowsTheRest) {
  UpdateRecord updated;
  updated.started = 1796738720;
  updated.before = InstrumentFacts{"VXA-4410", "4410017", "2.1", "1.22.0"};
  updated.newVersion = VXA_PRODUCT_VERSION;
  updated.outcome = Outcome(Outcome::kUpdated);
  UpdateRecord mismatch = updated;
  mismatch.before->serialNumber = "4410018";
  mismatch.newVersion.clear();
  mismatch.outcome = Outcome(Outcome::kFailed, Failure{FailureKind::kVerifyMismatch, "differs"});
  mismatch.text = std::string("differs ") + std::string(90, 'x');
  const std::string torn = RecordLine(updated);
  {
    std::ofstream file(dir_.path() / "h.jsonl", std::ios::binary);
    file << RecordLine(updated) << "{\"type\":\"start\"}\n" << RecordLine(mismatch)
         << torn.substr(0, torn.size() / 2);
  }
  for (const char* language : {"ru", "en"}) {
    SCOPED_TRACE(language);
    SetMessageLanguage(std::string(language) == "en" ? kLanguageEnglish : kLanguageRussian);
    ChildResult r = RunChild(kProgram, {"--lang", language, "history", "h.jsonl"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> rows = Lines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    EXPECT_TRUE(rows[0].starts_with(MessageText(msg::kColumnWhen, 0))) << rows[0];
    const std::string versions = std::string("1.22.0 → ") + VXA_PRODUCT_VERSION;
    EXPECT_TRUE(Contains(rows[1], " 4410017 ") && Contains(rows[1], versions)) << rows[1];
    EXPECT_TRUE(Contains(rows[2], " 4410018 ") && Contains(rows[2], "1.22.0 → -") &&
                Contains(rows[2], "differs")) << rows[2];
    for (const std::string& row : rows) {
      EXPECT_LT(std::count_if(row.begin(), row.end(),
                              [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }),
                80) << row;
    }
    EXPECT_EQ(r.err, FormatText(MessageText(msg::kHistoryLineSkipped, 0), "h.jsonl", size_t{2}) +
                         "\n" +
                         FormatText(MessageText(msg::kHistoryLineSkipped, 0), "h.jsonl", size_t{4}) +
                         "\n");
  }
  SetMessageLanguage(kLanguageRussian);
  ChildResult one = RunChild(kProgram, {"--device", "4410018", "history", "h.jsonl"});
  EXPECT_EQ(Lines(one.out).size(), 2u) << one.out;
  EXPECT_TRUE(Contains(one.out, "4410018") && !Contains(one.out, "4410017")) << one.out;
  ChildResult json = RunChild(kProgram, {"--json", "history", "h.jsonl"});
  std::vector<nlohmann::json> objects;
  EXPECT_EQ(CheckJsonLines(json.out, &objects), "");
  EXPECT_EQ(OfType(objects, "update_record").size(), 2u);
  const std::vector<nlohmann::json> skipped = OfType(objects, "record_skipped");
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0].value("line", 0), 2);
  EXPECT_EQ(skipped[1].value("line", 0), 4);
  EXPECT_EQ(objects.back().value("records", 0), 2);
  EXPECT_EQ(json.err, "");
}

// A record file that is a directory or a pipe stops the update before the instrument is touched
// (no log is begun); a symbolic link leads to its regular file.
TEST_F(CliProcessTest, RecordFileMustBeARegularFileAndALinkIsFollowed) {
  std::filesystem::create_directory(dir_.path() / "folder");
  ASSERT_EQ(::mkfifo((dir_.path() / "fifo").c_str(), 0600), 0);
  for (const char* name : {"folder", "fifo"}) {
    SCOPED_TRACE(name);
    ChildResult r = RunChild(kProgram, Fast({"--log", "--yes", "--record", name, "update"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, FormatText(MessageText(msg::kRecordNotRegular, 0), name) + "\n");
    EXPECT_FALSE(dir_.Exists("log_file.txt"));
  }
  std::filesystem::create_symlink("target.jsonl", dir_.path() / "link.jsonl");
  ChildResult r = RunChild(kProgram, Fast({"--yes", "--record", "link.jsonl", "update"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "link.jsonl"));
  EXPECT_EQ(RecordLines(dir_.Read("target.jsonl")).size(), 1u);
  ChildResult missing = RunChild(kProgram, {"history", "none.jsonl"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Contains(missing.err, "none.jsonl")) << missing.err;
}

TEST_F(CliProcessTest, InfoPrintsTheFourLinesExactly) {
  ChildResult r = RunChild(kProgram, Fast({"info"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), ExpectedInfoLines());
  EXPECT_EQ(r.err, "");
}

// The vendor's library is found where the system looks for libraries; the stand-in's folder is
// put there, or nothing is.
TEST_F(CliProcessTest, TheVendorLibraryDriverReachesTheInstrumentThroughIt) {
  ASSERT_EQ(::setenv("LD_LIBRARY_PATH", VXA_D2XX_STANDIN_DIR, 1), 0);
  ChildResult r = RunChild(kProgram, {"--driver", "d2xx", "info"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), ExpectedInfoLines());
}

TEST_F(CliProcessTest, WithoutTheVendorLibraryTheDriverFailsNamingIt) {
  ASSERT_EQ(::unsetenv("LD_LIBRARY_PATH"), 0);
  ChildResult r = RunChild(kProgram, {"--driver", "d2xx", "info"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  const std::string missing =
      FormatText(MessageText(msg::kD2xxLibraryMissing, 0), "libftd2xx.so", "");
  EXPECT_EQ(r.err.rfind(FormatText(MessageText(msg::kBackendFailed, 0), missing.c_str()), 0), 0u)
      << r.err;
}

TEST_F(CliProcessTest, OptionsMayFollowTheCommand) {
  ChildResult r = RunChild(kProgram, {"info", "--fast", "--sim"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), ExpectedInfoLines());
}

// The computer's local time as the clock line shows it; such texts sort as the times do.
std::string LocalClockText(std::time_t at) {
  std::tm calendar{};
  localtime_r(&at, &calendar);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &calendar);
  return text;
}

TEST_F(CliProcessTest, UpdateSucceedsWithStagesInOrder) {
  const std::time_t before = std::time(nullptr);
  ChildResult r = RunChild(kProgram, Fast({"update", "--yes"}));
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The four lines, the version the instrument now reports, the time its clock was given (virtual
  // time starts at the computer's local time, and the update takes it some minutes on at most),
  // the success.
  const std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 7u) << r.out;
  EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 4), ExpectedInfoLines());
  EXPECT_EQ(out[4], FormatText(MessageText(msg::kNewProgramVersion, 0), VXA_PRODUCT_VERSION));
  const std::string clockSet = FormatText(MessageText(msg::kDeviceClockSet, 0), "");
  ASSERT_TRUE(out[5].starts_with(clockSet)) << out[5];
  const std::string shown = out[5].substr(clockSet.size());
  EXPECT_EQ(shown.size(), 19u) << shown;
  EXPECT_GE(shown, LocalClockText(before)) << out[5];
  EXPECT_LE(shown, LocalClockText(after + 10 * 60)) << out[5];
  EXPECT_EQ(out[6], Msg(msg::kFirmwareCompleted));
  // Not a terminal: one plain line per stage and nothing else.
  EXPECT_EQ(Lines(r.err),
            (std::vector<std::string>{Msg(msg::kStateWriteRequest), Msg(msg::kStateFileTransfer),
                                      Msg(msg::kStateVerification), Msg(msg::kStateFlashing)}));
}

TEST_F(CliProcessTest, LogOptionWritesTheExchangeLog) {
  ChildResult r = RunChild(kProgram, Fast({"--log", "info"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(dir_.Exists("log_file.txt"));
  EXPECT_FALSE(dir_.Read("log_file.txt").empty());

  ChildResult quiet = RunChild(kProgram, Fast({"info"}));
  EXPECT_EQ(quiet.exitCode, 0);

  // A log that cannot be created is a warning with its cause, and the run goes on without it. A
  // name that is a link (planted in a shared folder, the program run as root) is never written
  // through; with --all, neither is the first log's name, and the instrument's own name, taken
  // by renaming, replaces a link instead of following it.
  namespace fs = std::filesystem;
  const struct {
    std::string planted;
    bool isLink;  // else a directory
    std::vector<std::string> arguments;
    std::string warning;
  } refused[] = {
      {"log_file.txt", false, {"--log", "info"}, std::generic_category().message(EISDIR)},
      {"log_file.txt", true, {"--log", "info"}, Msg(msg::kOwnFileIsLink)},
      {"log_file-FTSIM001.txt", true, {"--sim-instruments", "2", "--all", "--log", "info"},
       Msg(msg::kOwnFileIsLink)},
      {"log_file-4410018.txt", true, {"--sim-instruments", "2", "--all", "--log", "info"}, ""},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.planted);
    for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
    std::ofstream(dir_.path() / "other.txt") << "someone else's";
    if (row.isLink) {
      fs::create_symlink("other.txt", dir_.path() / row.planted);
    } else {
      fs::create_directory(dir_.path() / row.planted);
    }
    ChildResult noLog = RunChild(kProgram, Fast(row.arguments));
    EXPECT_EQ(noLog.exitCode, 0) << noLog.err;
    EXPECT_EQ(dir_.Read("other.txt"), "someone else's");
    if (row.warning.empty()) {
      EXPECT_EQ(noLog.err, "");
      EXPECT_FALSE(dir_.Read(row.planted).empty());
      EXPECT_FALSE(fs::is_symlink(dir_.path() / row.planted));
      continue;
    }
    const std::string warning =
        FormatText(MessageText(msg::kFileCreateFailed, 0), row.planted.c_str(),
                   row.warning.c_str());
    if (row.arguments.front() == "--log") {
      EXPECT_EQ(Lines(noLog.out), ExpectedInfoLines());
      EXPECT_EQ(noLog.err, warning + "\n");
    } else {
      EXPECT_TRUE(Contains(noLog.err, warning)) << noLog.err;
    }
  }
}

TEST_F(CliProcessTest, UpdateWithoutYesAndWithoutTerminalIsRefusedBeforeAnySearch) {
  ChildResult r = RunChild(kProgram, Fast({"update"}));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");  // no search: no information lines
  EXPECT_EQ(r.err, Msg(msg::kConfirmNeedsTerminal) + "\n");
}

TEST_F(CliProcessTest, UsageErrorsExitTwoWithOneLineOnStderr) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--sim"},
      {"--bogus", "info"},
      {"-x", "info"},
      {"info", "--port"},
      {"--sim", "frobnicate"},
      {"--sim", "info", "extra"},
      {"--sim", "read", "dev_info"},
      {"--sim", "read", "calibration", "out.bin"},
      {"--fast", "info"},
      {"--sim", "--port", "/dev/ttyUSB0", "info"},
      {"--sim", "--driver", "serial", "info"},
      {"--driver", "usb", "info"},
      {"--port", "/dev/ttyUSB0", "--driver", "libftdi", "info"},
      {"--port", "/dev/ttyUSB0", "--driver", "d2xx", "info"},
      {"--sim", "--sim-fault", "no-such-fault", "info"},
      {"--sim", "--sim-fault", "silent:0", "info"},
      {"--sim-fault", "silent", "info"},
      {"--sim", "--sim-plug", "8:0", "info"},
      {"--sim", "--sim-plug", "0:", "info"},
      {"--sim", "--sim-unplug", "0:5,", "info"},
      {"--sim-plug", "0:0", "info"},
      {"--sim", "--yes", "--watch", "update"},
      {"--sim", "--yes=1", "update"},
  };
  const std::string tryHelp = FormatText(MessageText(msg::kTryHelp, 0), "vxa4410-cli") + "\n";
  for (const auto& arguments : cases) {
    std::string shown;
    for (const auto& a : arguments) shown += a + " ";
    SCOPED_TRACE(shown);
    ChildResult r = RunChild(kProgram, arguments);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vxa4410-cli: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.err.ends_with(tryHelp)) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
}

TEST_F(CliProcessTest, UsageErrorsNameWhatIsWrong) {
  EXPECT_TRUE(Contains(RunChild(kProgram, {"--bogus", "info"}).err,
                       FormatText(MessageText(msg::kUnknownOption, 0), "--bogus")));
  EXPECT_TRUE(Contains(RunChild(kProgram, {"info", "--port"}).err,
                       FormatText(MessageText(msg::kMissingArgument, 0), "--port")));
  EXPECT_TRUE(Contains(RunChild(kProgram, {"--sim", "read", "swapfile", "x"}).err,
                       FormatText(MessageText(msg::kUnknownFileKind, 0), "swapfile")));
  EXPECT_EQ(RunChild(kProgram, {"--lang", "en", "--sim", "--yes=1", "update"}).err,
            "vxa4410-cli: option --yes takes no value (try vxa4410-cli --help)\n");
  EXPECT_EQ(RunChild(kProgram, {"--lang", "en", "--sim", "read", "dev_info"}).err,
            "vxa4410-cli: wrong number of arguments for command read; usage: read KIND FILE "
            "(try vxa4410-cli --help)\n");
}

TEST_F(CliProcessTest, DoubleDashEndsTheOptions) {
  // A file whose name starts with a dash can still be named.
  ChildResult r = RunChild(kProgram, Fast({"read", "dev_info", "--", "-info.bin"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(dir_.Exists("-info.bin"));
}

TEST_F(CliProcessTest, ReadStoresWhatTheSimulatorHolds) {
  ChildResult r = RunChild(kProgram, Fast({"read", "dev_info", "info.bin"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;

  VirtualClock clock;
  sim::SimBus bus(clock);
  const std::vector<uint8_t> held = bus.AttachInstrument().FileContent("dev_info");
  ASSERT_FALSE(held.empty());
  const std::string stored = ReadWhole(dir_.path() / "info.bin");
  EXPECT_EQ(stored, std::string(held.begin(), held.end()));
  EXPECT_TRUE(Contains(r.out, FormatText(MessageText(msg::kFileSaved, 0), "info.bin",
                                         static_cast<int>(held.size()))));
  EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"info.bin"});
}

TEST_F(CliProcessTest, ReadOfEachKindMatchesTheSimulator) {
  VirtualClock clock;
  sim::SimBus bus(clock);
  sim::SimInstrument& instrument = bus.AttachInstrument();
  for (const char* kind : {"dev_caliber", "sensor0", "sensor1"}) {
    SCOPED_TRACE(kind);
    ChildResult r = RunChild(kProgram, Fast({"read", kind, kind}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> held = instrument.FileContent(kind);
    EXPECT_EQ(ReadWhole(dir_.path() / kind), std::string(held.begin(), held.end()));
  }
}

TEST_F(CliProcessTest, ReadReplacesAnExistingFileOnlyWhenComplete) {
  {
    std::ofstream old(dir_.path() / "cal.bin");
    old << "kept until a read completes";
  }
  ChildResult refused =
      RunChild(kProgram, Fast({"--sim-fault", "refuse-request", "read", "dev_caliber", "cal.bin"}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err, "");
  EXPECT_EQ(ReadWhole(dir_.path() / "cal.bin"), "kept until a read completes");
  EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"cal.bin"});

  ChildResult done = RunChild(kProgram, Fast({"read", "dev_caliber", "cal.bin"}));
  EXPECT_EQ(done.exitCode, 0) << done.err;
  EXPECT_NE(ReadWhole(dir_.path() / "cal.bin"), "kept until a read completes");
}

// Whatever FILE names, the read never destroys it: standard output is written as it is, a link
// keeps pointing at its target (which gets the data, keeping its mode), anything that is not a
// regular file is refused untouched, and a name as long as the file system allows still works.
TEST_F(CliProcessTest, ReadNeverDestroysWhatItsFileNames) {
  VirtualClock clock;
  sim::SimBus bus(clock);
  const std::vector<uint8_t> held = bus.AttachInstrument().FileContent("dev_info");
  const std::string expected(held.begin(), held.end());

  // Standard output holds the bytes alone; the report says where they went, on stderr.
  ChildResult toOut = RunChild(kProgram, Fast({"read", "dev_info", "-"}));
  EXPECT_EQ(toOut.exitCode, 0) << toOut.err;
  EXPECT_EQ(toOut.out, expected);
  EXPECT_EQ(Lines(toOut.err).back(),
            FormatText(MessageText(msg::kFileWrittenToStandardOutput, 0),
                       static_cast<int>(expected.size())));
  EXPECT_FALSE(Contains(toOut.err, " - ")) << toOut.err;
  EXPECT_TRUE(FilesIn(dir_.path()).empty());

  // A directory is named as one, and stays as it was.
  std::filesystem::create_directory(dir_.path() / "folder");
  ChildResult toFolder = RunChild(kProgram, Fast({"read", "dev_info", "folder"}));
  EXPECT_EQ(toFolder.exitCode, 1);
  EXPECT_EQ(toFolder.out, "");
  EXPECT_EQ(toFolder.err, FormatText(MessageText(msg::kFileIsDirectory, 0), "folder") + "\n");
  EXPECT_TRUE(FilesIn(dir_.path() / "folder").empty());
  std::filesystem::remove(dir_.path() / "folder");

  {
    std::ofstream old(dir_.path() / "real.bin");
    old << "old";
  }
  std::filesystem::permissions(dir_.path() / "real.bin", std::filesystem::perms(0640));
  std::filesystem::create_symlink("real.bin", dir_.path() / "link.bin");
  ChildResult viaLink = RunChild(kProgram, Fast({"read", "dev_info", "link.bin"}));
  EXPECT_EQ(viaLink.exitCode, 0) << viaLink.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "link.bin"));
  EXPECT_EQ(ReadWhole(dir_.path() / "real.bin"), expected);
  EXPECT_EQ(std::filesystem::status(dir_.path() / "real.bin").permissions(),
            std::filesystem::perms(0640));

  ASSERT_EQ(::mkfifo((dir_.path() / "fifo").c_str(), 0600), 0);
  ChildResult toFifo = RunChild(kProgram, Fast({"read", "dev_info", "fifo"}));
  EXPECT_EQ(toFifo.exitCode, 1);
  EXPECT_TRUE(Contains(toFifo.err, Plain(FormatText(MessageText(msg::kFileNotRegular, 0), "fifo"))))
      << toFifo.err;
  EXPECT_TRUE(std::filesystem::is_fifo(dir_.path() / "fifo"));

  const std::string longName(250, 'n');
  ChildResult longOne = RunChild(kProgram, Fast({"read", "dev_info", longName}));
  EXPECT_EQ(longOne.exitCode, 0) << longOne.err;
  EXPECT_EQ(ReadWhole(dir_.path() / longName), expected);
  EXPECT_EQ(FilesIn(dir_.path()),
            (std::vector<std::string>{"fifo", "link.bin", longName, "real.bin"}));
}

TEST_F(CliProcessTest, ReadBrokenOffByALinkFailureLeavesNoFile) {
  // The first block has arrived when the bridge disappears at the acknowledgement (0x35).
  ChildResult r =
      RunChild(kProgram, Fast({"--sim-fault", "unplug:1:0:0:0x35", "read", "sensor1", "s.bin"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err, "");
  EXPECT_TRUE(FilesIn(dir_.path()).empty());
}

TEST_F(CliProcessTest, ReadIntoADirectoryThatDoesNotExistFailsBeforeTheSearch) {
  ChildResult r = RunChild(kProgram, Fast({"read", "kernel", "no/such/dir/k.bin"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(Plain(MessageText(msg::kFileCreateFailed, 0)).substr(0, 20), 0), 0u)
      << r.err;
}

// Nothing attached, over the simulator and over the vendor's library in both of the ways it may
// say so (success with a count of 0, its usual answer; or status 2).
TEST_F(CliProcessTest, NoInstrumentExitsThree) {
  ASSERT_EQ(::setenv("LD_LIBRARY_PATH", VXA_D2XX_STANDIN_DIR, 1), 0);
  const std::string none = Msg(msg::kNoDeviceConnected) + "\n";
  const std::string noBridge =
      FormatText(MessageText(msg::kNoFtdiDeviceFound, 0), "libftd2xx.so") + "\n";
  const std::vector<std::string> d2xx = {"--driver", "d2xx"};
  const std::vector<std::string> nothing = {"VXA_STANDIN_INSTRUMENTS=0"};
  const std::vector<std::string> status2 = {"VXA_STANDIN_INSTRUMENTS=0", "VXA_STANDIN_NONE=status"};
  const struct {
    std::vector<std::string> args, environment;
    std::string cause;  // what the backend adds to the message
  } rows[] = {
      {Fast({"--sim-instruments", "0"}), {}, ""},
      {d2xx, nothing, noBridge},
      {d2xx, status2, noBridge},
  };
  for (const auto& row : rows) {
    for (const char* command : {"info", "update"}) {
      std::vector<std::string> args = row.args;
      args.insert(args.end(), {"--yes", command});
      SCOPED_TRACE(::testing::PrintToString(args) + ::testing::PrintToString(row.environment));
      ChildResult r = RunChild(kProgram, args, row.environment);
      EXPECT_EQ(r.exitCode, 3);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, none + row.cause);
    }
  }
}

// The design's text asks to unplug the others; the next line says how to choose one instead.
TEST_F(CliProcessTest, TwoInstrumentsExitThree) {
  for (const char* command : {"info", "update", "read"}) {
    std::vector<std::string> args = {"--sim-instruments", "2", "--yes", command};
    if (std::string(command) == "read") args.insert(args.end(), {"kernel", "k.bin"});
    ChildResult r = RunChild(kProgram, Fast(args));
    EXPECT_EQ(r.exitCode, 3) << command;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Msg(msg::kMoreThanOneDevice) + "\n" + Msg(msg::kHintSeveralDevices) + "\n");
  }
}

TEST_F(CliProcessTest, PortThatDoesNotExistExitsThree) {
  ChildResult r = RunChild(kProgram, {"--port", (dir_.path() / "ttyNONE").string(), "info"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err, "");
}

// A port that is there but cannot be used is a failure to reach the instrument (1), not its
// absence (3), and the cause is named in the language of the run.
TEST_F(CliProcessTest, PortThatCannotBeUsedExitsOneWithItsCause) {
  const std::string directory = dir_.path().string();
  for (const auto& [port, cause] :
       {std::pair{std::string("/dev/null"),
                  FormatText(MessageText(msg::kNotSerialPort, 0), "/dev/null")},
        std::pair{directory, FormatText(MessageText(msg::kComPortFailed, 0), directory.c_str(),
                                        std::generic_category().message(EISDIR).c_str())}}) {
    ChildResult r = RunChild(kProgram, {"--port", port, "info"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "FT_Open failed\n" + cause + "\n");
  }
}

// One that does not answer may be installing still: the line under the design's text says so,
// alone and among several.
TEST_F(CliProcessTest, SilentInstrumentFailsWithTheNotConnectedText) {
  const std::string hint = Msg(msg::kHintInstalling) + "\n";
  ChildResult r = RunChild(kProgram, Fast({"--sim-fault", "silent", "info"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, StringTableText(str::kNotConnected) + "\n" + hint);

  r = RunChild(kProgram,
               Fast({"--sim-instruments", "2", "--sim-fault", "silent@1", "info", "--all"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "1: " + StringTableText(str::kNotConnected) + "\n" + hint)) << r.err;
}

TEST_F(CliProcessTest, VerificationMismatchFailsWithoutTheInstallRequest) {
  ChildResult r =
      RunChild(kProgram, Fast({"--sim-fault", "corrupt-read-back:1:0:5000", "update", "--yes"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, Msg(msg::kVerifiedDataMismatch))) << r.err;
  EXPECT_FALSE(Contains(r.err, Msg(msg::kStateFlashing)));
  EXPECT_FALSE(Contains(r.out, Msg(msg::kFirmwareCompleted)));
}

TEST_F(CliProcessTest, ShortReadBackFailsAsAMismatch) {
  ChildResult r = RunChild(kProgram, Fast({"--sim-fault", "short-read-back", "update", "--yes"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, Msg(msg::kVerifiedDataMismatch))) << r.err;
  EXPECT_FALSE(Contains(r.err, Msg(msg::kStateFlashing)));
}

TEST_F(CliProcessTest, LongReadBackFailsForLackOfSpace) {
  ChildResult r = RunChild(kProgram, Fast({"--sim-fault", "long-read-back", "update", "--yes"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, Msg(msg::kInsufficientSpace))) << r.err;
}

TEST_F(CliProcessTest, VersionNeverReportedEndsWithTheTransferredWarning) {
  ChildResult r =
      RunChild(kProgram, Fast({"--sim-fault", "never-report-version", "update", "--yes"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, Msg(msg::kImageTransferred))) << r.err;
  EXPECT_FALSE(Contains(r.out, Msg(msg::kFirmwareCompleted)));
}

TEST_F(CliProcessTest, UnplugDuringTheTransferFails) {
  ChildResult r = RunChild(kProgram, Fast({"--sim-fault", "unplug:1:20", "update", "--yes"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, Msg(msg::kStateFileTransfer)));
  // The bridge's bare status, and what it stands for, over what it means for the instrument.
  EXPECT_TRUE(Contains(r.err, Msg(msg::kFtdiReadError) + "4\n" + Msg(msg::kCauseDisconnected) +
                                  "\n" + Msg(msg::kFirmwareUnchangedRepeat) + "\n"))
      << r.err;
  EXPECT_FALSE(Contains(r.out, Msg(msg::kFirmwareCompleted)));
}

TEST_F(CliProcessTest, InterruptDuringARealTimeUpdateLeavesTheFirmwareUntouched) {
  ChildProcess child(kProgram, {"--sim", "update", "--yes", "--record", "r.jsonl"});
  ASSERT_TRUE(child.Started());
  const std::string transfer = Msg(msg::kStateFileTransfer);
  ASSERT_TRUE(child.WaitForStderr([&](const std::string& err) { return Contains(err, transfer); }));
  ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
  ChildResult r = child.Finish();
  EXPECT_EQ(r.exitCode, 130);
  const std::vector<std::string> err = Lines(r.err);
  ASSERT_GE(err.size(), 2u) << r.err;
  EXPECT_EQ(err[err.size() - 2], Msg(msg::kAbortedByUser));
  EXPECT_EQ(err.back(), Msg(msg::kFirmwareUntouched));
  EXPECT_FALSE(Contains(r.err, Msg(msg::kStateFlashing)));
  EXPECT_FALSE(Contains(r.out, Msg(msg::kFirmwareCompleted)));
  // The attempt is on record all the same, as stopped before the install request.
  const std::vector<nlohmann::json> records = RecordLines(dir_.Read("r.jsonl"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].value("outcome", ""), "interrupted");
  EXPECT_FALSE(records[0].value("install_requested", true));
}

TEST_F(CliProcessTest, TerminateAndHangUpDuringAReadAreInterruptsAndKeepNoFile) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    // The instrument falls silent after the first block, in real time: the read waits for it.
    ChildProcess child(kProgram,
                       {"--sim", "--sim-fault", "silent:1:0:0:0x35", "read", "sensor0", "s0.bin"});
    ASSERT_TRUE(child.Started());
    const std::string reading = FormatText(MessageText(msg::kStateFileRead, 0), "sensor0");
    ASSERT_TRUE(
        child.WaitForStderr([&](const std::string& err) { return Contains(err, reading); }));
    ASSERT_EQ(::kill(child.Pid(), signal), 0);
    ChildResult r = child.Finish();
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_TRUE(Contains(r.err, Msg(msg::kAbortedByUser)));
    // A read changes nothing: no word of firmware or an install.
    EXPECT_TRUE(Contains(r.err, Msg(msg::kInstrumentUnchanged)));
    EXPECT_FALSE(Contains(r.err, Msg(msg::kFirmwareUntouched)));
    // What was read so far is kept neither under the name asked for nor under any other.
    EXPECT_TRUE(FilesIn(dir_.path()).empty());
  }
}

}  // namespace
}  // namespace vxa::test
