#include "command_line.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

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
