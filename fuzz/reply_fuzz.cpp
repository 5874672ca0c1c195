// Plays a server that sends arbitrary bytes, cut into arbitrary pieces, to a
// connection that runs every data operation of the C interface. Each
// operation must come back with 1 or 0; since the byte stream is finite and
// ends with the peer's shutdown, a hang shows up as a libFuzzer time-out.
//
// The two ends are an AF_UNIX SOCK_SEQPACKET pair: every send of the server
// side is one record and every recv of the library takes at most one, so the
// pieces the fuzzer chooses are exactly the pieces the reply reader sees.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kovrasc.h"
#include "kvr_connect.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void SetText(KOVRA_STR& record, std::string_view text) {
  record.len = static_cast<uint16_t>(text.size());
  std::memcpy(record.str, text.data(), text.size());
}

void OnOutput(void*, KOVRA_STR* text) { Check(text->len <= KOVRA_STR_MAX); }
void OnGroupRead(void*, KOVRA_STR* value) { Check(value->len <= KOVRA_STR_MAX); }
void OnCallback(void*, KOVRA_STR* command, KOVRA_STR* result) {
  Check(command->len <= KOVRA_STR_MAX);
  SetText(*result, "answer");
}

// The server side: writes the pieces in order while draining whatever the
// library sends, shuts its sending side down after the last piece, and
// returns once the library has closed its end.
void PlayServer(int fd, std::vector<std::string> pieces) {
  std::size_t next = 0;
  bool shut = false;
  char sink[4096];
  for (;;) {
    if (next == pieces.size() && !shut) {
      ::shutdown(fd, SHUT_WR);
      shut = true;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (shut ? 0 : POLLOUT)), 0};
    if (::poll(&p, 1, -1) < 0) continue;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && (p.revents & (POLLHUP | POLLERR)))) break;
    }
    if (!shut && (p.revents & POLLOUT)) {
      const std::string& piece = pieces[next];
      if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
          errno != EAGAIN) {
        break;
      }
      ++next;
    }
  }
  ::close(fd);
}

// Input: byte 0 chooses the login kind, byte 1 seeds the piece lengths,
// the rest is the byte stream of the server.
std::vector<std::string> Pieces(const uint8_t* bytes, size_t size, uint8_t seed) {
  std::vector<std::string> pieces;
  uint32_t state = seed * 2654435761u + 1;
  const unsigned longest = 1 + seed % 64;
  std::size_t at = 0;
  while (at < size) {
    state = state * 1103515245u + 12345u;
    const std::size_t length = std::min<std::size_t>(1 + (state >> 16) % longest, size - at);
    pieces.emplace_back(reinterpret_cast<const char*>(bytes) + at, length);
    at += length;
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 2 || size > 65536) return 0;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  std::thread server(PlayServer, ends[1], Pieces(bytes + 2, size - 2, bytes[1]));

  // No address: a reconnect after the stream has ended fails at once.
  void* handle = KVRCreateConnect("", 0, "USER");
  Check(handle != nullptr);
  KVRSetOutput(handle, OnOutput);
  KVRSetGroupRead(handle, OnGroupRead);
  KVRSetCallback(handle, OnCallback);
  auto& connection = *static_cast<kovra::TKvrConnect*>(handle);
  if (bytes[0] & 1) {
    connection.Authorization.Active = true;
    connection.Authorization.UserName = "user";
    connection.Authorization.Password = "secret";
  }
  connection.OpenOnSocket(ends[0]);

  auto text = std::make_unique<KOVRA_STR>();
  auto value = std::make_unique<KOVRA_STR>();
  auto error = std::make_unique<KOVRA_STR>();
  auto isResult = [](int rc) { return rc == 0 || rc == 1; };
  SetText(*text, "zn \"USER\"");
  Check(isResult(KVRExecute(handle, text.get())));
  SetText(*text, "$zv");
  Check(isResult(KVRRead(handle, text.get(), value.get())));
  Check(value->len <= KOVRA_STR_MAX);
  SetText(*text, "x");
  SetText(*value, "value");
  Check(isResult(KVRWrite(handle, text.get(), value.get())));
  Check(isResult(KVRKill(handle, text.get())));
  SetText(*text, "w 1");
  Check(isResult(KVRExecuteOutput(handle, text.get())));
  Check(isResult(KVRExecute(handle, text.get())));
  KVRGetLastError(handle, error.get());
  Check(error->len <= KOVRA_STR_MAX);
  Check(KVRConnectClose(handle) == 1);
  KVRDestroyConnect(handle);
  server.join();
  return 0;
}
