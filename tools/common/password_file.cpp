#include "password_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kvrtools {
namespace {

struct Field {
  std::string text;
  bool any = false;  // an unescaped * alone
};

// Splits a line into its fields: four separated by unescaped colons, and the
// password, which is the rest of the line. Fewer than five: nothing.
std::optional<std::vector<Field>> splitLine(std::string_view line) {
  std::vector<Field> fields(1);
  bool escaped = false;  // the field so far has an escape, so it is never *
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == ':' || line[i + 1] == '\\')) {
      fields.back().text += line[++i];
      escaped = true;
    } else if (c == ':' && fields.size() < 5) {
      fields.back().any = !escaped && fields.back().text == "*";
      fields.emplace_back();
      escaped = false;
    } else {
      fields.back().text += c;
    }
  }
  if (fields.size() < 5) return std::nullopt;
  return fields;
}

bool matches(const Field& field, const std::string& value) { return field.any || field.text == value; }

void warn(const std::string& path, const std::string& why) {
  std::fflush(stdout);
  std::fprintf(stderr, "Ignoring the password file %s: %s.\n", path.c_str(), why.c_str());
  std::fflush(stderr);
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

}  // namespace

std::optional<Credentials> findInPasswordFile(std::string_view text, const PasswordQuery& query) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::optional<std::vector<Field>> fields = splitLine(line);
    if (!fields) continue;
    const std::vector<Field>& f = *fields;
    if (f[4].text.empty()) continue;
    if (!matches(f[0], query.server) || !matches(f[1], query.port) || !matches(f[2], query.database)) continue;
    if (query.login.empty()) {
      if (f[3].any || f[3].text.empty()) continue;
      return Credentials{f[3].text, f[4].text};
    }
    if (matches(f[3], query.login)) return Credentials{query.login, f[4].text};
  }
  return std::nullopt;
}

std::string passwordFilePath() {
  if (const char* named = std::getenv(kPasswordFileVariable); named != nullptr && *named != '\0') return named;
  const std::string home = homeFolder();
  return home.empty() ? std::string() : home + "/" + kPasswordFileName;
}

std::optional<std::string> readPasswordFile(const std::string& path) {
  // The checks are made on the descriptor read from, so the file cannot be
  // swapped between them and the read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) warn(path, std::strerror(errno));
    return std::nullopt;
  }
  struct stat status;
  std::optional<std::string> text;
  if (::fstat(fd, &status) != 0) {
    warn(path, std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    warn(path, "it is not a plain file");
  } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    warn(path, "group or others have access to it (chmod 600 " + path + " to use it)");
  } else {
    text.emplace();
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        text->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        warn(path, std::strerror(errno));
        text.reset();
        break;
      }
    }
  }
  ::close(fd);
  return text;
}

void applyPasswordFile(Settings& settings) {
  const std::string path = passwordFilePath();
  if (path.empty()) return;
  const std::optional<std::string> text = readPasswordFile(path);
  if (!text) return;
  const PasswordQuery query{settings.server, settings.port, settings.database, settings.login};
  if (const std::optional<Credentials> found = findInPasswordFile(*text, query)) {
    settings.login = found->login;
    settings.password = found->password;
  }
}

}  // namespace kvrtools
