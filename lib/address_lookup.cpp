#include "address_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

namespace kovra::net {

namespace {

bool IsNumericIPv4(const std::string& text) {
  in_addr unused;
  return ::inet_pton(AF_INET, text.c_str(), &unused) == 1;
}

bool IsNumericIPv6(const std::string& text) {
  in6_addr unused;
  return ::inet_pton(AF_INET6, text.c_str(), &unused) == 1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A name the resolver may take: letters, digits, hyphens, underscores and
// dots, whose last label is not a number (no top-level domain is one, and
// the resolver would read such a text as a legacy IPv4 form).
bool IsHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  for (char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !IsDigit(c) && c != '-' && c != '_' && c != '.') return false;
  }
  std::string_view last = name;
  if (last.back() == '.') last.remove_suffix(1);  // the root's dot
  last = last.substr(last.rfind('.') == std::string_view::npos ? 0 : last.rfind('.') + 1);
  if (last.empty()) return false;
  const bool allDigits = last.find_first_not_of("0123456789") == std::string_view::npos;
  const bool hexadecimal = last.size() > 1 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X');
  return !allDigits && !hexadecimal;
}

std::string NumericText(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST];
  if (::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "?";
  return host;
}

struct AddrinfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

TLookup LookUpServer(std::string_view server, int port) {
  std::string host(server);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  if (IsNumericIPv4(host) || IsNumericIPv6(host)) {
    hints.ai_flags |= AI_NUMERICHOST;
  } else if (host.empty()) {
    return {{}, "no server address given"};
  } else if (!IsHostName(host)) {
    return {{}, "not a host name or an IP address: " + host};
  }

  const std::string service = std::to_string(port & 0xFFFF);
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  const std::unique_ptr<addrinfo, AddrinfoFree> list(found);
  if (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_ADDRFAMILY) return {{}, "unknown host " + host};
  if (rc != 0) return {{}, "cannot look up host " + host + ": " + ::gai_strerror(rc)};

  TLookup lookup;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TSocketAddress address{};
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    address.text = NumericText(entry->ai_addr, entry->ai_addrlen);
    lookup.addresses.push_back(std::move(address));
  }
  if (lookup.addresses.empty()) lookup.failure = "unknown host " + host;
  return lookup;
}

}  // namespace kovra::net
