// A TCP relay on 127.0.0.1 that stands between one utility and its
// kvrdevserver and breaks the connection at an exact point of the
// conversation: after the client has sent a request holding a trigger text
// and the server has answered with a given number of bytes. That makes "the
// connection was lost in the middle of a reply" reproducible.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kvrtest {

class CuttingProxy {
 public:
  enum class AtTrigger {
    kCut,    // run onCut, then close both connections
    kStall,  // stop relaying and keep both connections open until destroyed
  };

  // Relays one client connection to 127.0.0.1:serverPort. Once the client
  // has sent trigger, replyBytes more bytes of the server's answer are
  // relayed, then the proxy acts as told.
  CuttingProxy(int serverPort, std::string trigger, std::size_t replyBytes, AtTrigger action,
               std::function<void()> onCut = {});
  ~CuttingProxy();
  CuttingProxy(const CuttingProxy&) = delete;
  CuttingProxy& operator=(const CuttingProxy&) = delete;

  int port() const { return port_; }
  // Waits (bounded) until the proxy has cut or stalled; false on timeout.
  bool waitUntilTriggered(std::chrono::seconds timeout = std::chrono::seconds(30));
  bool triggered() const { return triggered_; }

 private:
  void relay();
  void markTriggered();

  int serverPort_;
  std::string trigger_;
  std::size_t replyBytes_;
  AtTrigger action_;
  std::function<void()> onCut_;
  int listener_ = -1;
  int port_ = 0;
  int wakeRead_ = -1;  // closing wakeWrite_ ends the relay
  int wakeWrite_ = -1;
  std::atomic<bool> triggered_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace kvrtest
