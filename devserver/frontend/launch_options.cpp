#include "launch_options.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace devserver {

namespace {

std::size_t parseNumber(std::string_view option, std::string_view text, std::size_t max) {
  std::size_t value = 0;
  bool ok = !text.empty() && text.size() <= 9;
  for (char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (!ok || value > max) {
    throw UsageError(std::string(option) + " needs a number from 0 to " + std::to_string(max) +
                     ", not '" + std::string(text) + "'");
  }
  return value;
}

// Names are not looked up: the server says exactly where it listens.
bool isNumericAddress(std::string_view text) {
  const std::string address(text);
  in_addr v4;
  in6_addr v6;
  return ::inet_pton(AF_INET, address.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, address.c_str(), &v6) == 1;
}

}  // namespace

LaunchOptions parseLaunchOptions(const std::vector<std::string_view>& words) {
  LaunchOptions line;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string_view option = words[i];
    if (option == "--help" || option == "-h") {
      line.help = true;
      continue;
    }
    if (option != "--port" && option != "--dir" && option != "--greeting" &&
        option != "--segment" && option != "--listen" && option != "--tls-cert" &&
        option != "--tls-key" && option != "--tls-client-ca") {
      throw UsageError("unknown argument '" + std::string(option) + "'");
    }
    if (i + 1 >= words.size()) throw UsageError(std::string(option) + " needs a value");
    std::string_view value = words[++i];
    if (option == "--listen") {
      if (!isNumericAddress(value)) {
        throw UsageError("--listen needs an IPv4 or IPv6 address, not '" + std::string(value) + "'");
      }
      line.listen = value;
    } else if (option == "--port") {
      line.port = static_cast<std::uint16_t>(parseNumber(option, value, 65535));
    } else if (option == "--dir") {
      if (value.empty()) throw UsageError("--dir needs a directory");
      line.directory = value;
    } else if (option == "--greeting") {
      if (value != "ok" && value != "connect") {
        throw UsageError("--greeting is ok or connect, not '" + std::string(value) + "'");
      }
      line.loginGreeting = value == "connect";
    } else if (option == "--segment") {
      line.segment = parseNumber(option, value, 1 << 20);
    } else {
      if (value.empty()) throw UsageError(std::string(option) + " needs a file");
      std::string& file = option == "--tls-cert" ? line.tlsCertificate
                          : option == "--tls-key" ? line.tlsKey
                                                  : line.tlsClientCa;
      file = value;
    }
  }
  if (line.tlsCertificate.empty() != line.tlsKey.empty()) {
    throw UsageError("--tls-cert and --tls-key go together");
  }
  if (!line.tlsClientCa.empty() && line.tlsCertificate.empty()) {
    throw UsageError("--tls-client-ca needs --tls-cert and --tls-key");
  }
  return line;
}

}  // namespace devserver
