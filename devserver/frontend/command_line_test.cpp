#include "launch_options.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(CommandLineTest, TlsFilesComeAsCertificateAndKeyTogether) {
  const LaunchOptions line =
      parseLaunchOptions({"--tls-cert", "c.pem", "--tls-key", "k.pem", "--tls-client-ca", "ca.pem"});
  EXPECT_EQ(line.tlsCertificate, "c.pem");
  EXPECT_EQ(line.tlsKey, "k.pem");
  EXPECT_EQ(line.tlsClientCa, "ca.pem");
  EXPECT_THROW(parseLaunchOptions({"--tls-cert", "c.pem"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--tls-key", "k.pem"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--tls-client-ca", "ca.pem"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--tls-cert", "", "--tls-key", "k.pem"}), UsageError);
}

// Each value is taken up to the option's limit and refused beyond it, so a
// parser that refused (or took) everything would fail here.
TEST(CommandLineTest, EachOptionTakesItsValuesAndRefusesOthers) {
  const LaunchOptions defaults = parseLaunchOptions({});
  EXPECT_EQ(defaults.port, 5000);
  EXPECT_EQ(defaults.directory, "");
  EXPECT_FALSE(defaults.loginGreeting);
  EXPECT_EQ(defaults.segment, 0u);
  EXPECT_FALSE(defaults.help);

  EXPECT_EQ(parseLaunchOptions({"--port", "0"}).port, 0);
  EXPECT_EQ(parseLaunchOptions({"--port", "65535"}).port, 65535);
  EXPECT_THROW(parseLaunchOptions({"--port", "65536"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port", "-1"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port", "12x"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--port"}), UsageError);

  EXPECT_FALSE(parseLaunchOptions({"--greeting", "ok"}).loginGreeting);
  EXPECT_TRUE(parseLaunchOptions({"--greeting", "connect"}).loginGreeting);
  EXPECT_THROW(parseLaunchOptions({"--greeting", "hello"}), UsageError);

  EXPECT_EQ(parseLaunchOptions({"--segment", "1"}).segment, 1u);
  EXPECT_EQ(parseLaunchOptions({"--segment", "1048576"}).segment, 1048576u);
  EXPECT_THROW(parseLaunchOptions({"--segment", "1048577"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--segment", ""}), UsageError);

  EXPECT_EQ(parseLaunchOptions({"--dir", "data"}).directory, "data");
  EXPECT_THROW(parseLaunchOptions({"--dir", ""}), UsageError);

  EXPECT_TRUE(parseLaunchOptions({"-h"}).help);
  EXPECT_TRUE(parseLaunchOptions({"--help"}).help);
  EXPECT_THROW(parseLaunchOptions({"--verbose"}), UsageError);

  // The listen address is numeric: nothing is looked up.
  EXPECT_EQ(defaults.listen, "127.0.0.1");
  EXPECT_EQ(parseLaunchOptions({"--listen", "::1"}).listen, "::1");
  EXPECT_EQ(parseLaunchOptions({"--listen", "127.0.0.2", "--port", "0"}).listen, "127.0.0.2");
  EXPECT_THROW(parseLaunchOptions({"--listen", "localhost"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--listen", "127.1"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--listen"}), UsageError);
}

// Options combine in any order; a later one of the same name wins.
TEST(CommandLineTest, OptionsCombineInAnyOrder) {
  const LaunchOptions line = parseLaunchOptions(
      {"--segment", "7", "--dir", "/tmp/x", "--port", "1", "--greeting", "connect", "--port", "2"});
  EXPECT_EQ(line.port, 2);
  EXPECT_EQ(line.directory, "/tmp/x");
  EXPECT_TRUE(line.loginGreeting);
  EXPECT_EQ(line.segment, 7u);
  EXPECT_FALSE(line.help);
}

}  // namespace
}  // namespace devserver
