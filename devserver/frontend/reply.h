// The bytes of the server's replies. A header never holds a NUL (it would end
// the header early) and always fits the client's receive buffer together
// with its NUL, so every reply built here can be framed by the client.
#pragma once

#include <string>
#include <string_view>

namespace devserver {

// "<OK>" NUL, or "<OK>:" text NUL.
std::string okReply();
std::string okReply(std::string_view text);

// "<GO ON>:" len NUL value. REQUIRES: value fits the client's receive buffer.
std::string goOnReply(std::string_view value);

// "<CALLBACK>" name ":" len NUL command.
std::string callbackReply(std::string_view name, std::string_view command);

// "<ONMSGCALLBACK>" id ":" NUL (the client reads no body for it).
std::string messageReply(std::string_view id);

// A failed command: the M error text as the header, e.g. "<UNDEFINED> *abc".
std::string errorReply(std::string_view text);

// A header alone ("<INVALID TYPE>", "<CONNECT>:a:b", ...) and its NUL.
std::string headerReply(std::string_view header);

}  // namespace devserver
