#include "wire_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace kovra {

namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E && byte != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
}

void AppendTime(std::string& out) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(now.tv_nsec / 1000));
  out += text;
}

// One write per piece of text; a full disk or a closed descriptor only ends
// the line early, the connection never notices.
void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The library's only message of its own: the user asked for a trace and
// would otherwise never learn why none appears. Once per process, so a
// program with many connections does not repeat it.
void ReportUnopenable(const char* path, int error) {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  char reason[128];
  const char* text = ::strerror_r(error, reason, sizeof reason);
  std::string message = "kovrasc: cannot open the trace file ";
  message += path;
  message += ": ";
  message += text;
  message += '\n';
  WriteAll(STDERR_FILENO, message);
}

}  // namespace

std::unique_ptr<TWireTrace> TWireTrace::FromEnvironment(const void* handle) {
  const char* path = std::getenv("KOVRA_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    ReportUnopenable(path, errno);
    return nullptr;
  }
  return std::unique_ptr<TWireTrace>(new TWireTrace(fd, handle));
}

TWireTrace::~TWireTrace() { ::close(fd_); }

void TWireTrace::Request(std::string_view bytes, TSecretSpan secret) {
  if (secret.length == 0 || secret.at + secret.length > bytes.size()) {
    Line('>', bytes, {}, {});
    return;
  }
  Line('>', bytes.substr(0, secret.at), "***", bytes.substr(secret.at + secret.length));
}

void TWireTrace::Reply(std::string_view bytes) { Line('<', bytes, {}, {}); }

void TWireTrace::Event(std::string_view text) { Line('!', text, {}, {}); }

void TWireTrace::Line(char direction, std::string_view before, std::string_view masked,
                      std::string_view after) {
  std::string line;
  line.reserve(48 + (before.size() + after.size()) * 2 + masked.size());
  AppendTime(line);
  char head[40];
  std::snprintf(head, sizeof head, " %p %c ", handle_, direction);
  line += head;
  AppendEscaped(line, before);
  line += masked;
  AppendEscaped(line, after);
  line += '\n';
  // O_APPEND and one write per line keep lines of several connections whole.
  WriteAll(fd_, line);
}

}  // namespace kovra
