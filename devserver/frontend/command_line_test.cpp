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

TEST(CommandLineTest, TlsFilesComeAsCertificateAndKeyTogether) {
  const CommandLine line =
      parseCommandLine({"--tls-cert", "c.pem", "--tls-key", "k.pem", "--tls-client-ca", "ca.pem"});
  EXPECT_EQ(line.tlsCertificate, "c.pem");
  EXPECT_EQ(line.tlsKey, "k.pem");
  EXPECT_EQ(line.tlsClientCa, "ca.pem");
  EXPECT_THROW(parseCommandLine({"--tls-cert", "c.pem"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--tls-key", "k.pem"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--tls-client-ca", "ca.pem"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--tls-cert", "", "--tls-key", "k.pem"}), UsageError);
}

}  // namespace
}  // namespace devserver
