// Request framing of the server side. The reader does no I/O: it is fed the
// bytes that arrived and answers one complete request, "need more", or a
// protocol error. Nothing is consumed until a whole request is there, and
// every length it reads is bounded, so a hostile peer can neither make it
// allocate without limit nor desynchronise it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace devserver {

enum class RequestType {
  kRead,             // "r" NUL len NUL expression
  kWrite,            // "w" NUL len NUL target len NUL value
  kExecute,          // "x" NUL len NUL line
  kExecuteOutput,    // "t" NUL len NUL line
  kKill,             // "k" NUL len NUL reference
  kCallbackAnswer,   // "c" NUL len NUL result
  kLogin,            // "lg:" job NUL
  kMessageAck,       // "<CALLBACK>" id ":" len NUL result
  kConnect,          // "MR:cr:" namespace ":" len NUL list
};

struct Request {
  RequestType type = RequestType::kExecute;
  // The main field: the expression, line, reference or target, the answer,
  // the login's job text, the acknowledged message id, or the connect header.
  std::string first;
  // The value of a write; the result of an acknowledgement; the connect list.
  std::string second;
};

// The longest field a request may announce. M strings stop at 32767 bytes;
// a line of M code may be longer, so the bound leaves room while keeping
// what one connection can make the server buffer small.
inline constexpr std::size_t kMaxFieldLength = 1 << 20;

// The longest header that is ended by a NUL rather than by a length
// ("lg:...", "<CALLBACK>id:len", "MR:cr:ns:len").
inline constexpr std::size_t kMaxHeaderLength = 1024;

class RequestReader {
 public:
  enum class Status { kComplete, kNeedMore, kInvalid };

  // Appends received bytes.
  void feed(std::string_view bytes);

  // Takes the next complete request out of the buffer. kInvalid is sticky:
  // after it the connection must be dropped, never re-synchronised.
  Status next(Request& request);

  // Bytes received and not yet taken as a request.
  std::size_t buffered() const { return buffer_.size(); }

 private:
  std::string buffer_;
  bool invalid_ = false;
};

}  // namespace devserver
