#include <gtest/gtest.h>

#include <string>

#include "app/CommandLine.h"

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

TEST(CommandLineTest, ArgumentsAreJoinedWithSingleSpaces) {
  const char* argv[] = {"vxa4410-loader", "-log", "two words", "-sim"};
  EXPECT_EQ(JoinArguments(4, argv), "-log two words -sim");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

}  // namespace
}  // namespace vxa
