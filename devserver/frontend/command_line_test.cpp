#include "launch_options.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(CommandLineTest, BadValuesAreRefused) {
  EXPECT_THROW(parseLaunchOptions({"--port", "65536"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port", "-1"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port", "12x"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--greeting", "hello"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--segment", ""}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--verbose"}), UsageError);
}

}  // namespace
}  // namespace devserver
