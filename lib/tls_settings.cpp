// The TLS settings of a connection being opened, read from the environment.
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "connect_limit.h"
#include "tls_session.h"

namespace kovra::tls {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool SameWord(const std::string& text, const char* word) { return strcasecmp(text.c_str(), word) == 0; }

}  // namespace

std::chrono::milliseconds ConnectTimeLimit() {
  // The opening itself refuses a value that is not a positive number of
  // seconds, so only the default is left to choose here.
  return ParseSeconds(Variable(kConnectTimeoutVariable)).value_or(std::chrono::milliseconds(10000));
}

std::string DescribeLimit(std::chrono::milliseconds limit) {
  char text[32];
  if (limit.count() % 1000 == 0) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(limit.count() / 1000));
  } else {
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(limit.count()) / 1000);
  }
  return text;
}

TTlsSettings SettingsFromEnvironment() {
  TTlsSettings settings;
  const std::string mode = Variable("KOVRA_TLS");
  if (mode.empty() || SameWord(mode, "off")) {
    return settings;
  } else if (SameWord(mode, "require")) {
    settings.mode = TTlsMode::tmRequire;
  } else if (SameWord(mode, "verify-ca")) {
    settings.mode = TTlsMode::tmVerifyCa;
  } else if (SameWord(mode, "verify-full")) {
    settings.mode = TTlsMode::tmVerifyFull;
  } else {
    settings.problem = "TLS: KOVRA_TLS is '" + mode +
                       "'; it must be off, require, verify-ca or verify-full";
    return settings;
  }
  settings.caFile = Variable("KOVRA_TLS_CA");
  settings.certFile = Variable("KOVRA_TLS_CERT");
  settings.keyFile = Variable("KOVRA_TLS_KEY");
  if (settings.keyFile.empty()) settings.keyFile = settings.certFile;
  if (settings.certFile.empty() && !Variable("KOVRA_TLS_KEY").empty()) {
    settings.problem = "TLS: KOVRA_TLS_KEY is set without KOVRA_TLS_CERT";
  }
  settings.handshakeLimit = ConnectTimeLimit();
  return settings;
}

}  // namespace kovra::tls
