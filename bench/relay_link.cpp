#include "relay_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kvrbench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadPiece = 64 * 1024;
// Bytes in flight one way before the relay stops reading that side: the
// sender then waits as it would on a full link, and memory stays bounded.
constexpr std::size_t kQueueLimit = 1024 * 1024;

struct Chunk {
  Clock::time_point due;
  std::string bytes;  // empty: the end of the stream
  std::size_t sent = 0;
};

// One way of the link: what was read from `from` and waits for its time to
// be sent on `to`.
class Direction {
 public:
  Direction(int from, int to, std::chrono::microseconds delay) : from_(from), to_(to), delay_(delay) {}

  bool wantsRead() const { return !ended_ && queued_ < kQueueLimit; }
  bool waitsForWritable() const { return blocked_; }
  bool finished() const { return ended_ && chunks_.empty(); }

  // When the next chunk is due, unless none waits or `to` is full.
  std::optional<Clock::time_point> nextDue() const {
    if (chunks_.empty() || blocked_) return std::nullopt;
    return chunks_.front().due;
  }

  // One read from `from`, queued with its due time; false on a socket error.
  bool receive(char* buffer) {
    ssize_t n;
    do {
      n = ::recv(from_, buffer, kReadPiece, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    const Clock::time_point due = Clock::now() + delay_;
    if (n == 0) {
      ended_ = true;
      chunks_.push_back({due, {}});
      return true;
    }
    chunks_.push_back({due, std::string(buffer, static_cast<std::size_t>(n))});
    queued_ += static_cast<std::size_t>(n);
    return true;
  }

  // Sends every chunk that is due by now, as far as `to` takes it; false on
  // a socket error.
  bool forward(Clock::time_point now) {
    blocked_ = false;
    while (!chunks_.empty() && chunks_.front().due <= now) {
      Chunk& chunk = chunks_.front();
      if (chunk.bytes.empty()) {
        // The peer may be gone already; then there is nothing to tell it.
        ::shutdown(to_, SHUT_WR);
        chunks_.pop_front();
        continue;
      }
      const ssize_t n = ::send(to_, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent,
                               MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          blocked_ = true;
          return true;
        }
        return false;
      }
      chunk.sent += static_cast<std::size_t>(n);
      queued_ -= static_cast<std::size_t>(n);
      if (chunk.sent == chunk.bytes.size()) chunks_.pop_front();
    }
    return true;
  }

 private:
  int from_;
  int to_;
  std::chrono::microseconds delay_;
  std::deque<Chunk> chunks_;
  std::size_t queued_ = 0;
  bool ended_ = false;    // `from` has ended its stream
  bool blocked_ = false;  // `to` took no more bytes: wait until it is writable
};

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A socket nobody waits on is left out (-1): poll would otherwise report its
// hang-up again and again and the loop would spin.
pollfd Watch(int fd, const Direction& readFrom, const Direction& writeTo) {
  short events = 0;
  if (readFrom.wantsRead()) events |= POLLIN;
  if (writeTo.waitsForWritable()) events |= POLLOUT;
  return {events != 0 ? fd : -1, events, 0};
}

// The wait until the earlier of the two due times; nothing when neither
// direction has a chunk to send on time.
std::optional<timespec> WaitUntilDue(const Direction& one, const Direction& other, Clock::time_point now) {
  std::optional<Clock::time_point> due = one.nextDue();
  if (const auto second = other.nextDue(); second && (!due || *second < *due)) due = second;
  if (!due) return std::nullopt;
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*due - now);
  const long long ns = left.count() > 0 ? left.count() : 0;
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

void RelayConnection(int a, int b, std::chrono::microseconds delay) {
  SetNonBlocking(a);
  SetNonBlocking(b);
  Direction aToB(a, b, delay);
  Direction bToA(b, a, delay);
  std::vector<char> buffer(kReadPiece);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!aToB.forward(now) || !bToA.forward(now)) return;
    if (aToB.finished() && bToA.finished()) return;
    pollfd fds[2] = {Watch(a, aToB, bToA), Watch(b, bToA, aToB)};
    const std::optional<timespec> wait = WaitUntilDue(aToB, bToA, now);
    if (::ppoll(fds, 2, wait ? &*wait : nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    // A hang-up or an error shows in the read itself (0 or -1).
    constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
    if ((fds[0].revents & kReadable) && aToB.wantsRead() && !aToB.receive(buffer.data())) return;
    if ((fds[1].revents & kReadable) && bToA.wantsRead() && !bToA.receive(buffer.data())) return;
  }
}

}  // namespace kvrbench
