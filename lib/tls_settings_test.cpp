// The TLS settings as the library reads them from the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tls_session.h"

namespace kovra::tls {
namespace {

class TlsSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char* name : {"KOVRA_TLS", "KOVRA_TLS_CA", "KOVRA_TLS_CERT", "KOVRA_TLS_KEY",
                             "KOVRA_CONNECT_TIMEOUT"}) {
      ::unsetenv(name);
    }
  }
};

TEST_F(TlsSettingsTest, TheModeWordsAndTheFiles) {
  EXPECT_EQ(SettingsFromEnvironment().mode, TTlsMode::tmOff);
  ::setenv("KOVRA_TLS", "", 1);
  EXPECT_EQ(SettingsFromEnvironment().mode, TTlsMode::tmOff);
  ::setenv("KOVRA_TLS", "Verify-CA", 1);
  ::setenv("KOVRA_TLS_CERT", "/c.pem", 1);
  TTlsSettings s = SettingsFromEnvironment();
  EXPECT_EQ(s.mode, TTlsMode::tmVerifyCa);
  EXPECT_EQ(s.certFile, "/c.pem");
  EXPECT_EQ(s.keyFile, "/c.pem");  // the key beside the certificate
  EXPECT_EQ(s.problem, "");
  ::setenv("KOVRA_TLS_KEY", "/k.pem", 1);
  EXPECT_EQ(SettingsFromEnvironment().keyFile, "/k.pem");
  ::unsetenv("KOVRA_TLS_CERT");
  EXPECT_EQ(SettingsFromEnvironment().problem, "TLS: KOVRA_TLS_KEY is set without KOVRA_TLS_CERT");
  ::setenv("KOVRA_TLS", "on", 1);
  s = SettingsFromEnvironment();
  EXPECT_EQ(s.problem, "TLS: KOVRA_TLS is 'on'; it must be off, require, verify-ca or verify-full");
}

TEST_F(TlsSettingsTest, TheTimeLimitIsAPositiveNumberOfSeconds) {
  EXPECT_EQ(ConnectTimeLimit(), std::chrono::seconds(10));
  for (const char* wrong : {"abc", "0", "-3", "5s", "1e9", "nan", ""}) {
    ::setenv("KOVRA_CONNECT_TIMEOUT", wrong, 1);
    EXPECT_EQ(ConnectTimeLimit(), std::chrono::seconds(10)) << wrong;
  }
  ::setenv("KOVRA_CONNECT_TIMEOUT", "2.5", 1);
  EXPECT_EQ(ConnectTimeLimit(), std::chrono::milliseconds(2500));
  EXPECT_EQ(DescribeLimit(ConnectTimeLimit()), "2.5 s");
  EXPECT_EQ(DescribeLimit(std::chrono::seconds(10)), "10 s");
}

}  // namespace
}  // namespace kovra::tls
