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
  // The listen address is numeric: nothing is looked up.
  EXPECT_THROW(parseLaunchOptions({"--listen", "localhost"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--listen", "127.1"}), UsageError);
  EXPECT_THROW(parseLaunchOptions({"--listen"}), UsageError);
}

TEST(CommandLineTest, ListenAddressIsIPv4OrIPv6) {
  EXPECT_EQ(parseLaunchOptions({}).listen, "127.0.0.1");
  EXPECT_EQ(parseLaunchOptions({"--listen", "::1"}).listen, "::1");
  EXPECT_EQ(parseLaunchOptions({"--listen", "127.0.0.2", "--port", "0"}).listen, "127.0.0.2");
}

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

}  // namespace
}  // namespace devserver
