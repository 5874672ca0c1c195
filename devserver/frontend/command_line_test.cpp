#include "command_line.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(CommandLineTest, DefaultsServeInMemoryOnPort5000) {
  CommandLine line = parseCommandLine({});
  EXPECT_EQ(line.port, 5000);
  EXPECT_TRUE(line.directory.empty());
  EXPECT_FALSE(line.loginGreeting);
  EXPECT_EQ(line.segment, 0u);
}

TEST(CommandLineTest, EveryOptionTakesTheNextWord) {
  CommandLine line =
      parseCommandLine({"--port", "0", "--dir", "d", "--greeting", "connect", "--segment", "7"});
  EXPECT_EQ(line.port, 0);
  EXPECT_EQ(line.directory, "d");
  EXPECT_TRUE(line.loginGreeting);
  EXPECT_EQ(line.segment, 7u);
}

TEST(CommandLineTest, BadValuesAreRefused) {
  EXPECT_THROW(parseCommandLine({"--port", "65536"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port", "-1"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port", "12x"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--port"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--greeting", "hello"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--segment", ""}), UsageError);
  EXPECT_THROW(parseCommandLine({"--verbose"}), UsageError);
}

}  // namespace
}  // namespace devserver
