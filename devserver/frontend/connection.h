// One client connection: the greeting, then requests until the client goes,
// sends a malformed request, or its job halts. The connection is the job's
// JobIo: WRITE output, wo^%srv values, call-backs and messages travel over it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mengine/engine.h"
#include "request_reader.h"
#include "tls_server.h"
#include "unique_fd.h"

namespace devserver {

struct ConnectionSettings {
  // Greet with "<CONNECT>:a:b" and serve nothing before the login request.
  bool loginGreeting = false;
  // Write replies in pieces of at most this many bytes; 0 writes them whole.
  std::size_t segment = 0;
};

class Connection : private mengine::JobIo {
 public:
  // fd must stay open while serve() runs; the caller owns it. With tls, every
  // byte goes through that session (its handshake done already).
  Connection(int fd, mengine::Server& server, int jobNumber, ConnectionSettings settings,
             std::unique_ptr<TlsStream> tls = nullptr);
  ~Connection() override;

  // Serves the client until the connection ends. Never throws.
  void serve() noexcept;

 private:
  void write(std::string_view bytes) override;
  void outputValue(std::string_view value) override;
  std::string callback(std::string_view name, std::string_view command) override;
  void message(std::string_view id) override;
  // A job that loops without writing learns here that its client has gone.
  bool abandoned() override;

  void serveRequests();
  void handle(const Request& request);
  std::string runCommand(const Request& request);
  void runWithTerminalOutput(const std::string& line);

  // The next complete request; false when the client has closed. A
  // malformed request is answered with "<INVALID TYPE>" and ends the
  // connection (ConnectionLost).
  bool receive(Request& request);
  // Reads requests until one of the wanted type arrives, while the job waits
  // for a call-back answer or a message acknowledgement.
  Request await(RequestType wanted);
  [[noreturn]] void refuse(std::string_view marker, const char* why);
  void send(std::string_view bytes);
  void flushTerminalOutput();

  int fd_;
  std::unique_ptr<TlsStream> tls_;
  int jobNumber_;
  ConnectionSettings settings_;
  mengine::Job job_;
  RequestReader reader_;
  std::unique_ptr<char[]> receiveBuffer_;
  bool loggedIn_;
  // Set once the socket failed, so that a job that swallowed the error
  // still ends the connection.
  bool lost_ = false;
  // Inside a "t" request: WRITE output goes to the client, raw.
  bool terminalMode_ = false;
  std::string terminalOutput_;
};

}  // namespace devserver
