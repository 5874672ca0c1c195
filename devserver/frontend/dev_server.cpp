#include "dev_server.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "socket_io.h"

namespace devserver {

namespace {

// How long a stop waits for the connections to finish their current request.
constexpr std::chrono::seconds kStopGrace{3};

// Out of descriptors, the queued client keeps the listener readable; waiting
// this long for a connection to end avoids spinning on it.
constexpr int kExhaustedPauseMs = 100;

// Start-up failures end the server with one line: what, which path, why.
std::string prepareDirectory(const std::string& directory) {
  if (directory.empty()) return {};
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!error && !std::filesystem::is_directory(directory, error) && !error) {
    error = std::make_error_code(std::errc::not_a_directory);
  }
  std::string path;
  if (!error) path = std::filesystem::canonical(directory, error).string();
  if (error) {
    throw std::runtime_error("cannot use database directory " + directory + ": " + error.message());
  }
  if (!path.ends_with('/')) path += '/';
  return path;
}

UniqueFd listenOn(const std::string& address, std::uint16_t port) {
  try {
    return listenOnAddress(address, port);
  } catch (const std::system_error& error) {
    throw std::runtime_error("cannot listen on " + hostAndPort(address, port) + ": " + error.code().message());
  }
}

}  // namespace

std::string hostAndPort(const std::string& address, std::uint16_t port) {
  const std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
  return host + ":" + std::to_string(port);
}

int ConnectionRegistry::add(UniqueFd socket) {
  std::lock_guard<std::mutex> hold(mutex_);
  int fd = socket.get();
  sockets_.emplace(fd, std::move(socket));
  return fd;
}

void ConnectionRegistry::remove(int fd) {
  std::lock_guard<std::mutex> hold(mutex_);
  sockets_.erase(fd);
  if (sockets_.empty()) emptied_.notify_all();
}

void ConnectionRegistry::shutdownAll() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (const auto& [fd, socket] : sockets_) shutdownSocket(fd);
}

bool ConnectionRegistry::waitUntilEmpty(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  return emptied_.wait_for(hold, limit, [this] { return sockets_.empty(); });
}

DevServer::DevServer(const LaunchOptions& line) {
  settings_.loginGreeting = line.loginGreeting;
  settings_.segment = line.segment;
  if (!line.tlsCertificate.empty()) {
    tls_ = std::make_unique<TlsContext>(
        TlsFiles{line.tlsCertificate, line.tlsKey, line.tlsClientCa});
  }
  mengine::ServerOptions options;
  options.directory = prepareDirectory(line.directory);
  if (!options.directory.empty()) {
    journal_ = std::make_unique<Journal>(options.directory);
    options.journal = journal_.get();
  }
  server_ = std::make_unique<mengine::Server>(options);
  if (journal_) {
    journal_->replay(*server_);
    journal_->compact(*server_);
  }
  listener_ = listenOn(line.listen, line.port);
  port_ = localPort(listener_.get());
  address_ = line.listen;
}

DevServer::~DevServer() = default;

bool DevServer::run(int stopFd) {
  while (waitReadable(stopFd, listener_.get()) != stopFd) {
    bool exhausted = false;
    UniqueFd socket = acceptConnection(listener_.get(), exhausted);
    if (socket) {
      startConnection(std::move(socket));
    } else if (exhausted && waitReadable(stopFd, stopFd, kExhaustedPauseMs) == stopFd) {
      break;
    }
  }
  listener_.reset();
  registry_.shutdownAll();
  return registry_.waitUntilEmpty(kStopGrace);
}

void DevServer::startConnection(UniqueFd socket) {
  int fd = registry_.add(std::move(socket));
  int job = nextJob_++;
  try {
    std::thread([this, fd, job] {
      std::unique_ptr<TlsStream> tls;
      // A client that fails the handshake is dropped; the server goes on.
      // The session goes with the connection, before its socket is closed.
      if (!tls_ || (tls = tls_->accept(fd, handshakeLimit()))) {
        Connection connection(fd, *server_, job, settings_, std::move(tls));
        connection.serve();
      }
      if (tls_) endTlsOnThisThread();
      registry_.remove(fd);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to serve it: the client sees its connection closed.
    registry_.remove(fd);
  }
}

}  // namespace devserver
