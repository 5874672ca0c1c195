#include "connection.h"

#include <cstdint>
#include <new>

#include "reply.h"
#include "socket_io.h"
#include "wire_format.h"

namespace devserver {

namespace {

constexpr std::size_t kReceiveChunk = 64 * 1024;

// Terminal output of a "t" request is sent whenever this much has gathered,
// so a long listing neither waits for the end nor costs a send per WRITE.
constexpr std::size_t kTerminalFlushSize = 16 * 1024;

// The client acknowledges a message only when its id converts to a positive
// 32-bit integer; the server waits for exactly those acknowledgements.
bool isPositiveId(std::string_view id) {
  if (id.empty() || id.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value > 0 && value <= INT32_MAX;
}

// A body longer than the client's receive buffer could never be framed.
void checkBodyFits(std::string_view body) {
  if (body.size() > kovra::wire::kReceiveBufferSize) throw mengine::MError("<MAXSTRING>");
}

}  // namespace

Connection::Connection(int fd, mengine::Server& server, int jobNumber, ConnectionSettings settings,
                       std::unique_ptr<TlsStream> tls)
    : fd_(fd),
      tls_(std::move(tls)),
      jobNumber_(jobNumber),
      settings_(settings),
      job_(server, jobNumber),
      receiveBuffer_(new char[kReceiveChunk]),
      loggedIn_(!settings.loginGreeting) {}

Connection::~Connection() = default;

void Connection::serve() noexcept {
  try {
    serveRequests();
  } catch (...) {
    // The client went away or broke the protocol; either ends the connection
    // and nothing else: one connection's failure never stops the server.
  }
}

void Connection::serveRequests() {
  send(settings_.loginGreeting ? headerReply("<CONNECT>:a:b")
                               : okReply(std::to_string(jobNumber_)));
  Request request;
  while (receive(request)) {
    handle(request);
    if (job_.halted()) return;
  }
}

void Connection::handle(const Request& request) {
  switch (request.type) {
    case RequestType::kLogin:
      loggedIn_ = true;
      send(okReply(std::to_string(jobNumber_)));
      return;
    case RequestType::kConnect:
    case RequestType::kCallbackAnswer:
    case RequestType::kMessageAck:
      // A connect request needs no answer; an answer or acknowledgement that
      // nothing waits for is stale and harmless.
      return;
    default:
      break;
  }
  if (!loggedIn_) refuse(kovra::wire::kTagNoSession, "request before login");
  if (request.type == RequestType::kExecuteOutput) {
    runWithTerminalOutput(request.first);
    return;
  }
  std::string reply = runCommand(request);
  if (lost_) throw ConnectionLost("connection lost during a command");
  send(reply);
}

std::string Connection::runCommand(const Request& request) {
  try {
    switch (request.type) {
      case RequestType::kRead: {
        std::string value = job_.evaluate(request.first, *this);
        checkBodyFits(value);
        return goOnReply(value) + okReply();
      }
      case RequestType::kWrite:
        job_.set(request.first, request.second, *this);
        break;
      case RequestType::kKill:
        job_.kill(request.first, *this);
        break;
      default:
        job_.execute(request.first, *this);
        break;
    }
    return okReply();
  } catch (const ConnectionLost&) {
    throw;
  } catch (const mengine::MError& error) {
    return errorReply(error.what());
  } catch (const std::bad_alloc&) {
    return errorReply("<STORE>");
  }
}

void Connection::runWithTerminalOutput(const std::string& line) {
  terminalMode_ = true;
  std::string final;
  try {
    job_.execute(line, *this);
    final = okReply();
  } catch (const mengine::MError& error) {
    final = errorReply(error.what());
  } catch (const std::bad_alloc&) {
    final = errorReply("<STORE>");
  } catch (...) {
    terminalMode_ = false;
    throw;
  }
  terminalMode_ = false;
  if (lost_) throw ConnectionLost("connection lost during a command");
  terminalOutput_.push_back('\0');
  terminalOutput_ += final;
  flushTerminalOutput();
}

void Connection::write(std::string_view bytes) {
  if (!terminalMode_) return;
  // The client reads raw output up to the first NUL, so a NUL inside the
  // output would end it early and make the rest look like replies.
  for (char c : bytes) {
    if (c != '\0') terminalOutput_.push_back(c);
  }
  if (terminalOutput_.size() >= kTerminalFlushSize) flushTerminalOutput();
}

void Connection::flushTerminalOutput() {
  std::string pending;
  pending.swap(terminalOutput_);
  send(pending);
}

void Connection::outputValue(std::string_view value) {
  // The client serves no group values while it reads raw terminal output.
  if (terminalMode_) return;
  checkBodyFits(value);
  send(goOnReply(value));
}

std::string Connection::callback(std::string_view name, std::string_view command) {
  // Nor does it answer call-backs then: asking would wait forever.
  if (terminalMode_) return {};
  checkBodyFits(command);
  send(callbackReply(name, command));
  return await(RequestType::kCallbackAnswer).first;
}

void Connection::message(std::string_view id) {
  if (terminalMode_) return;
  send(messageReply(id));
  if (isPositiveId(id)) await(RequestType::kMessageAck);
}

bool Connection::abandoned() {
  if (!lost_ && peerHasGone(fd_)) lost_ = true;
  return lost_;
}

bool Connection::receive(Request& request) {
  for (;;) {
    switch (reader_.next(request)) {
      case RequestReader::Status::kComplete:
        return true;
      case RequestReader::Status::kInvalid:
        refuse(kovra::wire::kTagInvalidType, "malformed request");
      case RequestReader::Status::kNeedMore:
        break;
    }
    std::size_t count = 0;
    try {
      count = tls_ ? tls_->receiveSome(receiveBuffer_.get(), kReceiveChunk)
                   : receiveSome(fd_, receiveBuffer_.get(), kReceiveChunk);
    } catch (const ConnectionLost&) {
      lost_ = true;
      throw;
    }
    if (count == 0) return false;
    reader_.feed(std::string_view(receiveBuffer_.get(), count));
  }
}

Request Connection::await(RequestType wanted) {
  Request request;
  for (;;) {
    if (!receive(request)) {
      lost_ = true;
      throw ConnectionLost("client closed while the server waited for it");
    }
    if (request.type == wanted) return request;
    switch (request.type) {
      case RequestType::kConnect:
      case RequestType::kCallbackAnswer:
      case RequestType::kMessageAck:
        continue;
      default:
        // A new command while one is still running cannot be served.
        refuse(kovra::wire::kTagInvalidType, "request out of turn");
    }
  }
}

void Connection::refuse(std::string_view marker, const char* why) {
  try {
    send(headerReply(marker));
  } catch (const ConnectionLost&) {
  }
  lost_ = true;
  throw ConnectionLost(why);
}

void Connection::send(std::string_view bytes) {
  try {
    if (tls_) {
      tls_->sendAll(bytes, settings_.segment);
    } else {
      sendAll(fd_, bytes, settings_.segment);
    }
  } catch (const ConnectionLost&) {
    lost_ = true;
    throw;
  }
}

}  // namespace devserver
