// Error kinds of a connection, their fixed texts, and the exceptions that
// carry a failure from deep inside the library up to the C boundary.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kovra {

// Ordinals are part of the interface: EMConnectError::ErrorKind holds one.
enum TConnectError : std::uint8_t {
  ceNoJob = 0,
  ceBadFormat = 1,
  ceNotConnected = 2,
  ceCannotChangeProperty = 3,
  ceInvalidType = 4,
  ceReserved5 = 5,  // never produced by this client
  ceNoSession = 6,
  ceSocketNotConnected = 7,
  ceDataNotSended = 8,
  ceUnknown = 9,
};

// The kind's fixed text; empty for a kind without one.
const char* ConnectErrorText(TConnectError kind);

// Base of every failure the library raises. The message is a byte string and
// may hold NUL bytes (a server reply quoted in it), so it is kept whole rather
// than as a C string.
class EKovraError : public std::exception {
 public:
  explicit EKovraError(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A failure of one of the TConnectError kinds (or the server-error text of
// the command loop, which carries ceUnknown).
class EMConnectError : public EKovraError {
 public:
  EMConnectError(std::string message, TConnectError kind)
      : EKovraError(std::move(message)), kind_(kind) {}
  explicit EMConnectError(TConnectError kind)
      : EMConnectError(ConnectErrorText(kind), kind) {}
  TConnectError ErrorKind() const noexcept { return kind_; }

 private:
  TConnectError kind_;
};

}  // namespace kovra
