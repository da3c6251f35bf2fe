// The pieces of the terminal program that decide things on their own: the command line, the
// answers to the confirmation, the texts, the rate, the exit status and the file a read fills.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/FileSink.h"
#include "app/LoaderView.h"
#include "app/Outcome.h"
#include "app/cli/CliApp.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Help.h"
#include "app/cli/ProgressMeter.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"
#include "link/Errors.h"
#include "tests/support/TempDir.h"

namespace vxa::cli {
namespace {

using namespace std::chrono_literals;

ParsedCommandLine Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "vxa4410-cli");
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseCliArguments(static_cast<int>(arguments.size()), argv.data());
}

// --- command line ---

TEST(CliOptionsTest, CommandWithOptionsOnBothSides) {
  ParsedCommandLine p = Parse({"--sim", "update", "--fast", "--yes", "--log"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.command, Command::kUpdate);
  EXPECT_TRUE(p.options.sim);
  EXPECT_TRUE(p.options.fast);
  EXPECT_TRUE(p.options.yes);
  EXPECT_TRUE(p.options.log);
}

TEST(CliOptionsTest, ValuesSeparateOrJoined) {
  ParsedCommandLine p = Parse({"--port=/dev/ttyUSB1", "info", "--driver", "serial"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.port, "/dev/ttyUSB1");
  EXPECT_EQ(p.options.driver, "serial");
  EXPECT_EQ(p.options.command, Command::kInfo);
}

TEST(CliOptionsTest, ReadTakesAKindAndAFile) {
  ParsedCommandLine p = Parse({"read", "dev_caliber", "cal.bin", "--sim"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.command, Command::kRead);
  EXPECT_EQ(p.options.fileKind, 2u);
  EXPECT_EQ(p.options.file, "cal.bin");
}

TEST(CliOptionsTest, DoubleDashEndsOptions) {
  ParsedCommandLine p = Parse({"--sim", "read", "--", "swap", "--yes"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.file, "--yes");
  EXPECT_FALSE(p.options.yes);
}

TEST(CliOptionsTest, ShortForms) {
  ParsedCommandLine p = Parse({"-y", "--sim", "update"});
  ASSERT_EQ(p.error, "");
  EXPECT_TRUE(p.options.yes);
  EXPECT_TRUE(Parse({"-h"}).options.help);
  EXPECT_TRUE(Parse({"-V"}).options.version);
}

TEST(CliOptionsTest, HelpAndVersionNeedNoCommand) {
  EXPECT_EQ(Parse({"--help"}).error, "");
  EXPECT_EQ(Parse({"--version"}).error, "");
  EXPECT_EQ(Parse({"frobnicate", "--help"}).error, "");
}

TEST(CliOptionsTest, ParsingTwiceStartsAfresh) {
  EXPECT_NE(Parse({"--bogus"}).error, "");
  ParsedCommandLine p = Parse({"--sim", "list"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.options.command, Command::kList);
}

TEST(CliOptionsTest, ErrorsAreNamed) {
  EXPECT_EQ(Parse({}).error, MessageText(msg::kNoCommand, 0));
  EXPECT_EQ(Parse({"--what", "info"}).error,
            FormatText(MessageText(msg::kUnknownOption, 0), "--what"));
  EXPECT_EQ(Parse({"--what=1", "info"}).error,
            FormatText(MessageText(msg::kUnknownOption, 0), "--what"));
  // A known option given a value it does not take is named as it is spelt long.
  for (const char* given : {"--yes=1", "--ye=", "--sim=on"}) {
    const std::string name = std::string(given).starts_with("--sim") ? "--sim" : "--yes";
    EXPECT_EQ(Parse({given, "info"}).error,
              FormatText(MessageText(msg::kOptionTakesNoValue, 0), name.c_str()))
        << given;
  }
  EXPECT_EQ(Parse({"-q", "info"}).error, FormatText(MessageText(msg::kUnknownOption, 0), "-q"));
  EXPECT_EQ(Parse({"info", "--driver"}).error,
            FormatText(MessageText(msg::kMissingArgument, 0), "--driver"));
  EXPECT_EQ(Parse({"info", "--port="}).error,
            FormatText(MessageText(msg::kMissingArgument, 0), "--port"));
  EXPECT_EQ(Parse({"flash"}).error, FormatText(MessageText(msg::kUnknownCommand, 0), "flash"));
  // A wrong number of arguments shows the ones the command takes.
  EXPECT_EQ(Parse({"list", "all"}).error,
            FormatText(MessageText(msg::kWrongArgumentCount, 0), "list") + "; использование: list");
  EXPECT_EQ(Parse({"read", "kernel"}).error,
            FormatText(MessageText(msg::kWrongArgumentCount, 0), "read") +
                "; использование: read ТИП ФАЙЛ");
  EXPECT_EQ(Parse({"history"}).error,
            FormatText(MessageText(msg::kWrongArgumentCount, 0), "history") +
                "; использование: history ФАЙЛ");
  EXPECT_EQ(Parse({"read", "boot", "f"}).error,
            FormatText(MessageText(msg::kUnknownFileKind, 0), "boot"));
  EXPECT_EQ(Parse({"--sim", "--port", "p", "info"}).error,
            FormatText(MessageText(msg::kConflictingOptions, 0), "--sim", "--port"));
  EXPECT_EQ(Parse({"--fast", "info"}).error,
            FormatText(MessageText(msg::kOptionNeedsSim, 0), "--fast"));
  EXPECT_EQ(Parse({"--all", "--device", "1", "update"}).error,
            FormatText(MessageText(msg::kConflictingOptions, 0), "--all", "--device"));
  EXPECT_EQ(Parse({"--all", "read", "swap", "f"}).error,
            FormatText(MessageText(msg::kOptionNeedsCommand, 0), "--all", "info, update"));
  EXPECT_EQ(Parse({"list", "--device=0"}).error,
            FormatText(MessageText(msg::kOptionNeedsCommand, 0), "--device", "info, update, read, history"));
  EXPECT_EQ(Parse({"info", "--device="}).error,
            FormatText(MessageText(msg::kMissingArgument, 0), "--device"));
}

#ifdef _WIN32
constexpr bool kOnWindows = true;
#else
constexpr bool kOnWindows = false;
#endif

// Each platform offers the backends and names the ports it has: on Windows no libftdi, no /dev/
// and no locale variables.
TEST(CliOptionsTest, TheHelpAndTheDriversAreThisPlatformsOwn) {
  EXPECT_EQ(Parse({"--driver", "usb", "info"}).error,
            kOnWindows ? "неизвестный драйвер: usb (serial или d2xx)"
                       : "неизвестный драйвер: usb (serial, libftdi или d2xx)");
  EXPECT_EQ(Parse({"--driver", "libftdi", "info"}).error,
            kOnWindows ? "неизвестный драйвер: libftdi (serial или d2xx)" : "");
  for (const int32_t language : {kLanguageRussian, kLanguageEnglish}) {
    SetMessageLanguage(language);
    const std::string help = CliHelp("vxa4410-cli");
    EXPECT_EQ(help.find("libftdi") == std::string::npos, kOnWindows) << help;
    EXPECT_EQ(help.find("/dev/") == std::string::npos, kOnWindows) << help;
    EXPECT_EQ(help.find("LC_ALL") == std::string::npos, kOnWindows) << help;
    const bool english = language == kLanguageEnglish;
    const char* port = kOnWindows ? (english ? "--port PORT" : "--port ПОРТ")
                                  : (english ? "--port PATH" : "--port ПУТЬ");
    EXPECT_NE(help.find(port), std::string::npos) << help;
  }
  SetMessageLanguage(kLanguageRussian);
}

// A file's bytes are never dumped into a terminal: refused as a usage error before the search,
// with nothing on standard output.
TEST(CliOptionsTest, ReadToStandardOutputOnATerminalIsRefused) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  TerminalStreams streams;
  streams.out = out;
  streams.err = err;
  streams.outIsTerminal = true;
  std::vector<std::string> arguments = {"vxa4410-cli", "--lang", "ru", "--sim", "--fast",
                                        "read",        "dev_info", "-"};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  EXPECT_EQ(RunCli(static_cast<int>(arguments.size()), argv.data(), streams), kExitUsage);
  auto contents = [](std::FILE* file) {
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    return text;
  };
  EXPECT_EQ(contents(out), "");
  EXPECT_EQ(contents(err), std::string(MessageText(msg::kReadToTerminal, 0)) + "\n");
  std::fclose(out);
  std::fclose(err);
}

TEST(CliOptionsTest, FaultSpecifications) {
  SimFaultSpec faultSpec;
  ASSERT_TRUE(ParseFaultSpec("silent", &faultSpec));
  EXPECT_EQ(faultSpec.name, "silent");
  EXPECT_EQ(faultSpec.count, 1);
  EXPECT_EQ(faultSpec.skip, 0);
  EXPECT_EQ(faultSpec.value, 0u);
  EXPECT_EQ(faultSpec.onCommand, -1);

  EXPECT_EQ(faultSpec.instrument, -1);

  ASSERT_TRUE(ParseFaultSpec("corrupt-read-back:-1:2:0x1000:0x34", &faultSpec));
  EXPECT_EQ(faultSpec.name, "corrupt-read-back");
  EXPECT_EQ(faultSpec.count, -1);
  EXPECT_EQ(faultSpec.skip, 2);
  EXPECT_EQ(faultSpec.value, 0x1000u);
  EXPECT_EQ(faultSpec.onCommand, 0x34);

  ASSERT_TRUE(ParseFaultSpec("unplug:1:20@3", &faultSpec));
  EXPECT_EQ(faultSpec.skip, 20);
  EXPECT_EQ(faultSpec.instrument, 3);

  for (const char* bad : {"", "nothing", "silent:", "silent:0", "silent:x", "silent:1:-1",
                          "silent:1:0:0:256", "silent:1:0:0:0:9", "silent@", "silent@8",
                          "silent@-1", "silent:1@x"}) {
    EXPECT_FALSE(ParseFaultSpec(bad, &faultSpec)) << bad;
  }
  ParsedCommandLine p = Parse({"--sim", "--sim-fault", "bad-crc", "--sim-fault=silent:2", "info"});
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.options.faults.size(), 2u);
  EXPECT_EQ(p.options.faults[1].count, 2);
}

// --- texts ---

TEST(TerminalTextTest, BoxLayoutBecomesTerminalLines) {
  EXPECT_EQ(PlainTerminalText("\tfirst.\r\nsecond\r\n\tthird"), "first.\nsecond\nthird");
  EXPECT_EQ(PlainTerminalText("    Found\r\nDisconnect\tit\r\n\tand"), "Found\nDisconnect it\nand");
  EXPECT_EQ(PlainTerminalText("a\rb\nc"), "a\nb\nc");
  EXPECT_EQ(PlainTerminalText(""), "");
  // What an instrument sends cannot drive the terminal: C0, DEL and C1 controls become visible.
  EXPECT_EQ(PlainTerminalText("VXA\x1b[2J\x07\x7f\xc2\x9bЁ"), "VXA\\x1b[2J\\x07\\x7f\\x9bЁ");
}

TEST(TerminalTextTest, AnswersInBothLanguages) {
  for (const char* yes : {"y", "Y", "yes", "YES", " Yes ", "д", "Д", "да", "Да", "ДА\r"}) {
    EXPECT_EQ(ParseYesNo(yes), std::optional<bool>(true)) << yes;
  }
  for (const char* no : {"n", "N", "no", "No", "н", "Н", "нет", "НЕТ", "\tнет "}) {
    EXPECT_EQ(ParseYesNo(no), std::optional<bool>(false)) << no;
  }
  for (const char* neither : {"", " ", "ye", "yess", "да!", "не", "ok", "1", "дан"}) {
    EXPECT_EQ(ParseYesNo(neither), std::nullopt) << neither;
  }
}

TEST(TerminalTextTest, ProgressLineShowsWhatIsKnown) {
  ProgressLine line;
  line.stage = "Stage";
  EXPECT_EQ(FormatProgressLine(line), "Stage");
  line.label = "(1 из 2)";
  EXPECT_EQ(FormatProgressLine(line), "Stage (1 из 2)");
  line.bytesPerSecond = 2048.0;
  line.timeLeft = std::chrono::seconds(75);
  EXPECT_EQ(FormatProgressLine(line),
            "Stage (1 из 2), " + FormatText(MessageText(msg::kProgressRate, 0), 2.0) + ", " +
                FormatText(MessageText(msg::kProgressTimeLeft, 0), 1, 15));
}

TEST(TerminalTextTest, ALineIsCutShortOfTheTerminalWidth) {
  EXPECT_EQ(FitToColumns("Передача файла", 0), "Передача файла");
  EXPECT_EQ(FitToColumns("Передача файла", 100), "Передача файла");
  EXPECT_EQ(FitToColumns("Передача файла", 15), "Передача файла");
  EXPECT_EQ(FitToColumns("Передача файла", 14), "Передача файл");
  EXPECT_EQ(FitToColumns("abc", 3), "ab");
  EXPECT_EQ(FitToColumns("abc", 1), "");
}

// At every width from 40 to 200, in both languages, a progress line (a single update's, or a
// station's row after its head) fits within the width by whole fields: the full line, then
// without the time left, without the rate, without the figures; only a head and stage too long
// for the width alone are cut, and the head's numbers stay whole even then.
TEST(TerminalTextTest, AProgressLineDropsWholeFieldsToFitTheWidth) {
  const int32_t language = CurrentMessageLanguage();
  for (const int32_t chosen : {kLanguageRussian, kLanguageEnglish}) {
    SetMessageLanguage(chosen);
    const ProgressLine full{MessageText(msg::kStateVerification, 0),
                            ProgressText({1234567, 2433882}), 262144.0, 754s};
    for (const std::string head : {"", "3 SIM3 4410020: ", "12 /dev/ttyUSB12 4410020: "}) {
      std::vector<std::string> whole;  // the lines it may give, widest first
      ProgressLine line = full;
      whole.push_back(head + FormatProgressLine(line));
      line.timeLeft.reset();
      whole.push_back(head + FormatProgressLine(line));
      line.bytesPerSecond.reset();
      whole.push_back(head + FormatProgressLine(line));
      line.label.clear();
      whole.push_back(head + FormatProgressLine(line));
      for (size_t width = 40; width <= 200; ++width) {
        SCOPED_TRACE(head + std::to_string(width));
        const std::string fitted = FitProgressLine(head, full, width);
        EXPECT_LT(TextWidth(fitted), width);
        const auto widest = std::find_if(whole.begin(), whole.end(), [width](const auto& text) {
          return TextWidth(text) < width;
        });
        if (widest != whole.end()) {
          EXPECT_EQ(fitted, *widest);
        } else {
          EXPECT_TRUE(fitted.starts_with(head) && whole.back().starts_with(fitted)) << fitted;
        }
      }
      EXPECT_EQ(FitProgressLine(head, full, 0), whole.front());
    }
  }
  SetMessageLanguage(language);
  EXPECT_EQ(TextWidth("Передача → 1"), 12u);
}

// COLUMNS set, or removed when empty (Windows' C library has no setenv).
void SetColumns(const char* value) {
#ifdef _WIN32
  _putenv_s("COLUMNS", value);
#else
  if (*value != '\0') {
    ::setenv("COLUMNS", value, 1);
  } else {
    ::unsetenv("COLUMNS");
  }
#endif
}

// Off a terminal the width is COLUMNS when it is a number, else the standard 80.
TEST(TerminalTextTest, TheWidthOffATerminalIsColumnsElseEighty) {
  const char* saved = std::getenv("COLUMNS");
  const std::string before = saved != nullptr ? saved : "";
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  for (const auto& [value, width] : {std::pair<const char*, size_t>{"60", 60}, {"132", 132},
                                     {"", 80}, {"0", 80}, {"wide", 80}, {"60x", 80}}) {
    SetColumns(value);
    EXPECT_EQ(LineWidth(file), width) << value;
  }
  SetColumns("");
  EXPECT_EQ(LineWidth(file), 80u);
  std::fclose(file);
  if (saved != nullptr) SetColumns(before.c_str());
}

// --- rate and time left ---

Clock::TimePoint At(std::chrono::milliseconds ms) {
  return Clock::TimePoint{} + ms;
}

TEST(ProgressMeterTest, NoRateFromOneSampleOrATooShortSpan) {
  ProgressMeter meter;
  EXPECT_FALSE(meter.BytesPerSecond(At(0ms)));
  meter.Add(At(0ms), 0);
  EXPECT_FALSE(meter.BytesPerSecond(At(0ms)));
  meter.Add(At(50ms), 1000);
  EXPECT_FALSE(meter.BytesPerSecond(At(50ms)));
}

TEST(ProgressMeterTest, RateBetweenMovesAndTimeLeft) {
  ProgressMeter meter;
  meter.Add(At(0ms), 0);
  meter.Add(At(500ms), 50000);
  meter.Add(At(1000ms), 100000);
  // Looks in between moves change nothing.
  meter.Add(At(1200ms), 100000);
  ASSERT_TRUE(meter.BytesPerSecond(At(1200ms)));
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(At(1200ms)), 100000.0);
  EXPECT_EQ(meter.TimeLeft(350000, At(1200ms)), std::chrono::seconds(3));
  EXPECT_EQ(meter.TimeLeft(100001, At(1200ms)), std::chrono::seconds(1));  // rounded up
  EXPECT_EQ(meter.TimeLeft(100000, At(1200ms)), std::chrono::seconds(0));
}

TEST(ProgressMeterTest, OnlyTheRecentWindowCounts) {
  ProgressMeter meter;
  meter.Add(At(0ms), 0);
  meter.Add(At(1000ms), 1000);  // slow at first
  for (int s = 2; s <= 10; ++s)
    meter.Add(At(std::chrono::milliseconds(s * 1000)), (s - 1) * 10000 + 1000);
  ASSERT_TRUE(meter.BytesPerSecond(At(10000ms)));
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(At(10000ms)), 10000.0);
}

TEST(ProgressMeterTest, AStallShowsAFallingRate) {
  ProgressMeter meter;
  meter.Add(At(0ms), 0);
  meter.Add(At(1000ms), 10000);
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(At(1500ms)), 10000.0);
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(At(4000ms)), 2500.0);
}

TEST(ProgressMeterTest, PositionGoingBackStartsOver) {
  ProgressMeter meter;
  meter.Add(At(0ms), 0);
  meter.Add(At(1000ms), 10000);
  meter.Add(At(1100ms), 0);  // the verification starts from the beginning
  EXPECT_FALSE(meter.BytesPerSecond(At(1100ms)));
  meter.Reset();
  EXPECT_FALSE(meter.BytesPerSecond(At(1100ms)));
}

// --- exit status ---

struct ExitRow {
  Outcome::Kind kind;
  std::optional<FailureKind> failure;
  bool endsRun;
  Asked asked;
  int status;
};

// One function decides every front end's status: the terminal's by what its command asked for,
// the window's by whether the run ended in a failure.
TEST(ExitStatusTest, EachOutcomeHasItsStatusForWhatWasAsked) {
  using enum Asked;
  using O = Outcome;
  using F = FailureKind;
  const ExitRow rows[] = {
      {O::kFound, {}, false, kInfo, kExitSuccess},
      {O::kFound, {}, false, kList, kExitSuccess},
      {O::kUpdated, {}, true, kUpdate, kExitSuccess},
      {O::kFileRead, {}, false, kRead, kExitSuccess},
      // Found but never run: the update or the read did not happen.
      {O::kFound, {}, false, kUpdate, kExitFailed},
      {O::kFound, {}, false, kRead, kExitFailed},
      {O::kNoDevice, F::kNoDevice, false, kInfo, kExitNoDevice},
      {O::kNoDevice, F::kSeveralDevices, false, kUpdate, kExitNoDevice},
      {O::kNotResponding, F::kNotAnswering, false, kInfo, kExitFailed},
      {O::kFailed, F::kLinkFailed, true, kUpdate, kExitFailed},
      {O::kVersionTimeout, F::kVersionTimeout, true, kUpdate, kExitFailed},
      {O::kDeclined, {}, false, kUpdate, kExitFailed},
      {O::kInterrupted, {}, true, kUpdate, kExitInterrupted},
      {O::kNone, {}, false, kUpdate, kExitFailed},
      // The command line first, then an interruption, then a failure of this computer.
      {O::kInterrupted, F::kUsage, false, kUpdate, kExitUsage},
      {O::kInterrupted, F::kLocal, false, kRead, kExitInterrupted},
      {O::kFileRead, F::kLocal, false, kRead, kExitFailed},  // the file could not be renamed
      {O::kNoDevice, F::kLocal, false, kInfo, kExitFailed},
      // The window: a warning that leaves it open is no failure, a box that ends it is.
      {O::kNone, {}, false, kWindow, kExitSuccess},
      {O::kFound, {}, false, kWindow, kExitSuccess},
      {O::kDeclined, {}, false, kWindow, kExitSuccess},
      {O::kNoDevice, F::kNoDevice, false, kWindow, kExitSuccess},
      {O::kNotResponding, F::kNotAnswering, false, kWindow, kExitSuccess},
      {O::kNoDevice, F::kListingFailed, true, kWindow, kExitFailed},
      {O::kFailed, F::kLocal, true, kWindow, kExitFailed},  // no boot image
      {O::kFailed, F::kProtocolError, false, kWindow, kExitFailed},  // a refused read-back
      {O::kVersionTimeout, F::kVersionTimeout, true, kWindow, kExitFailed},
      {O::kUpdated, {}, true, kWindow, kExitSuccess},
      {O::kInterrupted, F::kInterrupted, true, kWindow, kExitInterrupted},
  };
  for (const ExitRow& row : rows) {
    Outcome outcome(row.kind);
    if (row.failure) outcome.failure = Failure{*row.failure};
    outcome.endsRun = row.endsRun;
    EXPECT_EQ(ExitStatus(outcome, row.asked), row.status)
        << "outcome " << int(row.kind) << ", failure " << (row.failure ? int(*row.failure) : -1)
        << ", asked " << int(row.asked);
  }
}

TEST(ExitStatusTest, InterruptionSaysWhetherTheFirmwareWasTouched) {
  Outcome update(Outcome::kInterrupted);
  EXPECT_STREQ(InterruptionConsequence(update, Asked::kUpdate),
               MessageText(msg::kFirmwareUntouched, 0));
  EXPECT_STREQ(InterruptionConsequence(update, Asked::kRead),
               MessageText(msg::kInstrumentUnchanged, 0));
  update.kernelRequested = true;
  EXPECT_STREQ(InterruptionConsequence(update, Asked::kUpdate),
               MessageText(msg::kInstallUnderWay, 0));
}

// --- the file a read fills ---

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t EntriesIn(const std::filesystem::path& directory) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(directory),
                                           std::filesystem::directory_iterator()));
}

class FileSinkTest : public ::testing::Test {
 protected:
  test::ScopedTempDir dir_;
};

TEST_F(FileSinkTest, CommitGivesTheFileItsNameAndContent) {
  const auto destination = dir_.path() / "out.bin";
  FileSink sink(destination);
  EXPECT_FALSE(std::filesystem::exists(destination));
  EXPECT_EQ(sink.TemporaryPath().parent_path(), dir_.path());
  EXPECT_TRUE(std::filesystem::exists(sink.TemporaryPath()));

  EXPECT_EQ(sink.Write("hello ", 6), 6);
  EXPECT_EQ(sink.Write("world", 5), 5);
  EXPECT_EQ(sink.GetPosition(), 11);
  // The size of a file being read is what has arrived so far.
  EXPECT_EQ(sink.GetSize(), 11);
  EXPECT_FALSE(std::filesystem::exists(destination));

  std::string error;
  ASSERT_TRUE(sink.Commit(&error)) << error;
  EXPECT_TRUE(sink.Committed());
  EXPECT_EQ(ReadWhole(destination), "hello world");
  EXPECT_EQ(EntriesIn(dir_.path()), 1u);
}

TEST_F(FileSinkTest, WithoutCommitNothingStays) {
  {
    FileSink sink(dir_.path() / "out.bin");
    sink.Write("partial", 7);
  }
  EXPECT_EQ(EntriesIn(dir_.path()), 0u);
}

TEST_F(FileSinkTest, AnExistingFileIsReplacedOnlyAtCommit) {
  const auto destination = dir_.path() / "cal.bin";
  std::ofstream(destination) << "old";
  {
    FileSink abandoned(destination);
    abandoned.Write("new", 3);
  }
  EXPECT_EQ(ReadWhole(destination), "old");
  FileSink sink(destination);
  sink.Write("new", 3);
  ASSERT_TRUE(sink.Commit(nullptr));
  EXPECT_EQ(ReadWhole(destination), "new");
}

TEST_F(FileSinkTest, RestartFromZeroDropsWhatWasWritten) {
  const auto destination = dir_.path() / "out.bin";
  FileSink sink(destination);
  sink.Write("first try", 9);
  EXPECT_EQ(sink.SetPosition(0), 0);
  EXPECT_EQ(sink.GetSize(), 0);
  sink.Write("again", 5);
  // Forward past what was written is not a place to go.
  EXPECT_EQ(sink.SetPosition(100), 5);
  EXPECT_EQ(sink.SetPosition(-1), 5);
  ASSERT_TRUE(sink.Commit(nullptr));
  EXPECT_EQ(ReadWhole(destination), "again");
}

TEST_F(FileSinkTest, CannotBeReadBack) {
  FileSink sink(dir_.path() / "out.bin");
  sink.Write("data", 4);
  char buffer[4] = {};
  EXPECT_EQ(sink.Peek(buffer, 4), 0);
  EXPECT_EQ(sink.Read(buffer, 4), 0);
  EXPECT_EQ(sink.GetPosition(), 4);
}

TEST_F(FileSinkTest, CreationFailureNamesTheFile) {
  const auto destination = dir_.path() / "missing" / "out.bin";
  try {
    FileSink sink(destination);
    FAIL() << "created in a directory that does not exist";
  } catch (const TBufferError& e) {
    const std::string text = e.Text();
    EXPECT_NE(text.find(destination.string()), std::string::npos) << text;
  }
}

TEST_F(FileSinkTest, CommitFailureRemovesTheTemporaryFile) {
  // The destination becomes a directory that is not empty while the read runs: rename cannot
  // replace it.
  const auto destination = dir_.path() / "taken";
  FileSink sink(destination);
  std::filesystem::create_directories(destination / "inside");
  sink.Write("x", 1);
  std::string error;
  EXPECT_FALSE(sink.Commit(&error));
  EXPECT_NE(error.find(destination.string()), std::string::npos) << error;
  EXPECT_EQ(EntriesIn(dir_.path()), 1u);  // only the directory
}

TEST_F(FileSinkTest, TwoSinksForOneNameDoNotShareATemporaryFile) {
  FileSink a(dir_.path() / "same.bin");
  FileSink b(dir_.path() / "same.bin");
  EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
}

}  // namespace
}  // namespace vxa::cli
