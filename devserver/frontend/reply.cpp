#include "reply.h"

#include "wire_format.h"

namespace devserver {

namespace {

using kovra::wire::kReceiveBufferSize;

// Drops NUL bytes and cuts the header so that it and its NUL fit the
// client's buffer; otherwise the client could never complete the reply.
std::string cleanHeader(std::string_view header) {
  std::string clean;
  clean.reserve(header.size() + 1);
  for (char c : header) {
    if (c != '\0') clean.push_back(c);
  }
  if (clean.size() >= kReceiveBufferSize) clean.resize(kReceiveBufferSize - 1);
  return clean;
}

std::string withBody(std::string header, std::string_view body) {
  header.push_back('\0');
  header.append(body);
  return header;
}

}  // namespace

std::string okReply() { return headerReply(kovra::wire::kTagOk); }

std::string okReply(std::string_view text) {
  return headerReply(std::string(kovra::wire::kTagOk) + ":" + std::string(text));
}

std::string goOnReply(std::string_view value) {
  std::string header(kovra::wire::kTagGoOn);
  header += ":" + std::to_string(value.size());
  return withBody(std::move(header), value);
}

std::string callbackReply(std::string_view name, std::string_view command) {
  std::string length = ":" + std::to_string(command.size());
  std::string header = cleanHeader(std::string(kovra::wire::kTagCallback) + std::string(name));
  // The length must survive whole; a name too long for the buffer is cut.
  if (header.size() + length.size() >= kReceiveBufferSize) {
    header.resize(kReceiveBufferSize - 1 - length.size());
  }
  return withBody(header + length, command);
}

std::string messageReply(std::string_view id) {
  return headerReply(std::string(kovra::wire::kTagMessageCallback) + std::string(id) + ":");
}

std::string errorReply(std::string_view text) {
  std::string header = cleanHeader(text);
  // An empty header is skipped by the client, which would then wait forever.
  if (header.empty()) header = "<ERROR>";
  return withBody(std::move(header), {});
}

std::string headerReply(std::string_view header) { return withBody(cleanHeader(header), {}); }

}  // namespace devserver
