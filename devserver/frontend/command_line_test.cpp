#include "command_line.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

// Each value is taken up to the option's limit and refused beyond it, so a
// parser that refused (or took) everything would fail here.
TEST(CommandLineTest, EachOptionTakesItsValuesAndRefusesOthers) {
  const CommandLine defaults = parseCommandLine({});
  EXPECT_EQ(defaults.port, 5000);
  EXPECT_EQ(defaults.directory, "");
  EXPECT_FALSE(defaults.loginGreeting);
  EXPECT_EQ(defaults.segment, 0u);
  EXPECT_FALSE(defaults.help);

  EXPECT_EQ(parseCommandLine({"--port", "0"}).port, 0);
  EXPECT_EQ(parseCommandLine({"--port", "65535"}).port, 65535);
  EXPECT_THROW(parseCommandLine({"--port", "65536"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port", "-1"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port", "12x"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port"}), UsageError);

  EXPECT_FALSE(parseCommandLine({"--greeting", "ok"}).loginGreeting);
  EXPECT_TRUE(parseCommandLine({"--greeting", "connect"}).loginGreeting);
  EXPECT_THROW(parseCommandLine({"--greeting", "hello"}), UsageError);

  EXPECT_EQ(parseCommandLine({"--segment", "1"}).segment, 1u);
  EXPECT_EQ(parseCommandLine({"--segment", "1048576"}).segment, 1048576u);
  EXPECT_THROW(parseCommandLine({"--segment", "1048577"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--segment", ""}), UsageError);

  EXPECT_EQ(parseCommandLine({"--dir", "data"}).directory, "data");
  EXPECT_THROW(parseCommandLine({"--dir", ""}), UsageError);

  EXPECT_TRUE(parseCommandLine({"-h"}).help);
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
  EXPECT_THROW(parseCommandLine({"--verbose"}), UsageError);
}

// Options combine in any order; a later one of the same name wins.
TEST(CommandLineTest, OptionsCombineInAnyOrder) {
  const CommandLine line = parseCommandLine(
      {"--segment", "7", "--dir", "/tmp/x", "--port", "1", "--greeting", "connect", "--port", "2"});
  EXPECT_EQ(line.port, 2);
  EXPECT_EQ(line.directory, "/tmp/x");
  EXPECT_TRUE(line.loginGreeting);
  EXPECT_EQ(line.segment, 7u);
  EXPECT_FALSE(line.help);
}

}  // namespace
}  // namespace devserver
