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
  // The listen address is numeric: nothing is looked up.
  EXPECT_THROW(parseCommandLine({"--listen", "localhost"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--listen", "127.1"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--listen"}), UsageError);
}

TEST(CommandLineTest, ListenAddressIsIPv4OrIPv6) {
  EXPECT_EQ(parseCommandLine({}).listen, "127.0.0.1");
  EXPECT_EQ(parseCommandLine({"--listen", "::1"}).listen, "::1");
  EXPECT_EQ(parseCommandLine({"--listen", "127.0.0.2", "--port", "0"}).listen, "127.0.0.2");
}

}  // namespace
}  // namespace devserver
