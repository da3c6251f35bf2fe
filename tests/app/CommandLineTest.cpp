#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/Backend.h"
#include "app/CommandLine.h"
#include "link/Errors.h"
#include "protocol/Connection.h"
#include "sim/SimBus.h"

namespace vxa {
namespace {

TEST(CommandLineTest, LogIsRecognisedOnlyAsAnExactSpaceSeparatedToken) {
  EXPECT_FALSE(ParseCommandLine("").log);
  EXPECT_TRUE(ParseCommandLine("-log").log);
  EXPECT_TRUE(ParseCommandLine("foo -log bar").log);
  EXPECT_TRUE(ParseCommandLine("-time    -log").log);
  EXPECT_FALSE(ParseCommandLine("-LOG").log);
  EXPECT_FALSE(ParseCommandLine("-logx").log);
  EXPECT_FALSE(ParseCommandLine("\"-log\"").log);
  EXPECT_FALSE(ParseCommandLine("foo\t-log").log);  // a tab joins it to the word before
}

TEST(CommandLineTest, TimeIsRecognisedAndSwitchesNothingElse) {
  const CommandLineOptions options = ParseCommandLine("-time");
  EXPECT_TRUE(options.time);
  EXPECT_FALSE(options.log);
  EXPECT_FALSE(options.sim);
}

TEST(CommandLineTest, HelpAndVersionAreWholeTokensAndLeaveTheOtherOptionsAlone) {
  const CommandLineOptions help = ParseCommandLine("-sim --help");
  EXPECT_TRUE(help.help);
  EXPECT_FALSE(help.version);
  EXPECT_TRUE(help.sim);
  EXPECT_TRUE(ParseCommandLine("-log --version").version);
  EXPECT_FALSE(ParseCommandLine("-help -version --helpx").help);
  EXPECT_FALSE(ParseCommandLine("-port --help").help);  // the port's name, however odd
}

TEST(CommandLineTest, RunsOfSpacesGiveOneTokenPerSpace) {
  const auto tokens = SplitCommandLine("a  b");
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0], "a");
  EXPECT_EQ(tokens[1], " ");
  EXPECT_EQ(tokens[2], " ");
  EXPECT_EQ(tokens[3], "b");
  EXPECT_EQ(SplitCommandLine("").size(), 1u);
}

TEST(CommandLineTest, ALongTokenIsPassedOverAndCannotMatch) {
  std::string longToken(1023, 'x');
  EXPECT_TRUE(ParseCommandLine(longToken + " -log").log);
  // A longer one is skipped whole, even when it would be an option's argument.
  const CommandLineOptions options = ParseCommandLine(std::string(1024, 'z') + " -log");
  EXPECT_TRUE(options.log);
  EXPECT_TRUE(ParseCommandLine("-port " + std::string(1024, 'p')).port.empty());
}

TEST(CommandLineTest, BackendOptionsTakeTheNextWord) {
  const CommandLineOptions options = ParseCommandLine("-log -port  /dev/pts/7 -driver libftdi -sim");
  EXPECT_EQ(options.port, "/dev/pts/7");
  EXPECT_EQ(options.driver, "libftdi");
  EXPECT_TRUE(options.sim);
  EXPECT_TRUE(options.log);
  EXPECT_TRUE(options.errors.empty());
  EXPECT_EQ(ParseCommandLine("-port").errors.size(), 1u);
}

// The window's options are spelt with one dash; a word that looks like another option is kept to
// be refused, while other words and the arguments of options are passed over as before.
TEST(CommandLineTest, WordsThatLookLikeOtherOptionsAreKept) {
  const struct {
    const char* line;
    std::vector<std::string> unknown;
  } rows[] = {
      {"-sim -log -time -lang en --help --version", {}},
      {"--sim", {"--sim"}},
      {"-sim --lang en -x", {"--lang", "-x"}},
      {"-port -odd -driver --strange", {}},  // the values of -port and -driver
      {"-lang -sim", {}},                      // -lang without a language: -sim is an option
      {"word - other", {}},
      {"-LOG -logx", {"-LOG", "-logx"}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseCommandLine(row.line).unknown, row.unknown) << row.line;
  }
  EXPECT_TRUE(ParseCommandLine("-lang -sim").sim);
  EXPECT_EQ(ParseCommandLine("-lang EN").language, kLanguageEnglish);
  EXPECT_EQ(ParseCommandLine("-lang rU").language, kLanguageRussian);
}

TEST(CommandLineTest, ArgumentsAreJoinedWithSingleSpaces) {
  const char* argv[] = {"vxa4410-loader", "-log", "two words", "-sim"};
  EXPECT_EQ(JoinArguments(4, argv), "-log two words -sim");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

BackendOptions Simulated(int instruments, std::vector<SimFaultSpec> faults = {}) {
  BackendOptions options;
  options.sim = true;
  options.simInstruments = instruments;
  options.simFaults = std::move(faults);
  return options;
}

TEST(BackendTest, SimulatedBusHasTheInstrumentsAskedFor) {
  std::string error;
  BackendOptions options = Simulated(2, {SimFaultSpec{.name = "silent", .count = -1}});
  options.virtualTime = true;
  const LocalDateTime before = RealClock().LocalTime();
  const auto two = CreateBackend(options, &error);
  const LocalDateTime after = RealClock().LocalTime();
  ASSERT_NE(two, nullptr) << error;
  EXPECT_NE(dynamic_cast<sim::SimBus*>(&two->Driver()), nullptr);
  EXPECT_NE(dynamic_cast<VirtualClock*>(&two->clock()), nullptr);
  uint32_t count = 0;
  EXPECT_EQ(two->Driver().CountDevices(&count), kFtOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(two->Driver().LastError(), "");

  // Virtual time starts at the computer's local time unless a start is given.
  auto asTuple = [](const LocalDateTime& t) {
    return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second);
  };
  const LocalDateTime started = two->clock().LocalTime();
  EXPECT_LE(asTuple(before), asTuple(started));
  EXPECT_LE(asTuple(started), asTuple(after));

  const auto none = CreateBackend(Simulated(0), &error);
  ASSERT_NE(none, nullptr);
  EXPECT_NE(dynamic_cast<RealClock*>(&none->clock()), nullptr);
  EXPECT_EQ(none->Driver().CountDevices(&count), kFtDeviceNotFound);

  EXPECT_EQ(CreateBackend(Simulated(1, {SimFaultSpec{.name = "gremlins"}}), &error), nullptr);
  EXPECT_EQ(error, "unknown fault \"gremlins\"");
  EXPECT_EQ(CreateBackend(Simulated(2, {SimFaultSpec{.name = "silent", .instrument = 2}}), &error),
            nullptr);
  EXPECT_EQ(error, "no simulated instrument 2 for fault \"silent\"");
}

// Several simulated instruments in virtual time: each keeps its own time (the first the
// program's), so that one's waiting never moves another's on; a fault goes where it is aimed.
TEST(BackendTest, EachSimulatedInstrumentInVirtualTimeHasItsClockAndItsFaults) {
  std::string error;
  BackendOptions options = Simulated(3, {SimFaultSpec{.name = "silent", .count = -1, .instrument = 1}});
  options.virtualTime = true;
  options.virtualStart = LocalDateTime{2026, 3, 4, 5, 6, 7};
  const auto three = CreateBackend(options, &error);
  ASSERT_NE(three, nullptr) << error;
  uint32_t count = 0;
  ASSERT_EQ(three->Driver().CountDevices(&count), kFtOk);
  std::vector<BridgeInfo> bridges(count);
  std::vector<Clock*> clocks;
  for (uint32_t index = 0; index < count; ++index) {
    ASSERT_EQ(three->Driver().DescribeDevice(index, &bridges[index]), kFtOk);
    clocks.push_back(&three->ClockOf(bridges[index]));
  }
  EXPECT_EQ(clocks[0], &three->clock());
  EXPECT_NE(clocks[1], clocks[0]);
  EXPECT_NE(clocks[2], clocks[1]);
  const Clock::TimePoint first = clocks[0]->Now();
  clocks[1]->Sleep(std::chrono::seconds(5));
  EXPECT_EQ(clocks[0]->Now(), first);
  // Each starts at the time given, and the local time moves with its own clock.
  const LocalDateTime at0 = clocks[0]->LocalTime();
  const LocalDateTime at1 = clocks[1]->LocalTime();
  const LocalDateTime& start = *options.virtualStart;
  EXPECT_EQ(std::tie(at0.year, at0.month, at0.day, at0.hour, at0.minute, at0.second),
            std::tie(start.year, start.month, start.day, start.hour, start.minute, start.second));
  EXPECT_EQ(at1.second, 12);
  EXPECT_EQ(clocks[2]->LocalTime().second, 7);

  // Only the second is silent: its search finds nobody answering.
  for (uint32_t index = 0; index < count; ++index) {
    TVXA4410Connection connection(three->Driver(), *clocks[index]);
    ASSERT_TRUE(connection.Open(&bridges[index]));
    if (index == 1) {
      EXPECT_THROW(connection.QueryGinf(), TVXA4410ConnError);
    } else {
      EXPECT_NO_THROW(connection.QueryGinf());
      EXPECT_EQ(connection.SerialNumberText(),
                std::to_string(sim::InstrumentConfig{}.serialNumber + static_cast<int>(index)));
    }
  }
}

}  // namespace
}  // namespace vxa
