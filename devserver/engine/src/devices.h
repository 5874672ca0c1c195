// The devices of a job: the principal device, which is the connection, and
// sequential files that OPEN may name inside the server directory. READ at
// the principal device has no input: a client cannot type into a request.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mengine {

class Devices {
 public:
  // directory: the server directory with a trailing '/', or empty (no files).
  Devices(std::string directory, int jobNumber);
  ~Devices();
  Devices(const Devices&) = delete;
  Devices& operator=(const Devices&) = delete;

  const std::string& principal() const { return principal_; }
  // $IO: the device in use.
  const std::string& current() const { return current_; }
  bool atPrincipal() const { return current_ == principal_; }
  std::string status() const { return ""; }  // $DEVICE

  // $X and $Y of the device in use, and how written text moves them.
  std::size_t x() const { return position().x; }
  std::size_t y() const { return position().y; }
  void setX(std::size_t x) { position().x = x; }
  void setY(std::size_t y) { position().y = y; }
  void advance(std::string_view text);
  // The line end written by WRITE ! on the device in use.
  std::string_view newLine() const { return atPrincipal() ? "\r\n" : "\n"; }

  // OPEN name with keywords (READONLY, NEWVERSION, APPEND, ...). Throws
  // MError for a name that is not a plain file name in the server
  // directory; false when the file cannot be opened.
  bool open(const std::string& name, const std::map<std::string, std::string>& params);
  void use(const std::string& name);
  void close(const std::string& name, bool deleteFile);
  // Writes to the file in use (not the principal device).
  void writeFile(std::string_view text);
  // The next line of the file in use, at most maxChars long (<0: no limit);
  // nullopt at its end, which also sets atEnd().
  std::optional<std::string> readLine(long maxChars);
  bool atEnd() const { return atPrincipal() ? false : files_.at(current_).ended; }

 private:
  struct Position {
    std::size_t x = 0, y = 0;
  };
  struct File {
    int fd = -1;
    std::string path;
    Position position;
    std::string buffer;  // read ahead, not yet returned
    bool eof = false;    // nothing more to read ahead
    bool ended = false;  // a READ found nothing ($ZEOF)
  };
  Position& position() { return atPrincipal() ? principalPosition_ : files_.at(current_).position; }
  const Position& position() const {
    return atPrincipal() ? principalPosition_ : files_.at(current_).position;
  }
  // The path of a device name inside the directory; throws when refused.
  std::string pathOf(const std::string& name) const;

  std::string directory_;
  std::string principal_;
  std::string current_;
  Position principalPosition_;
  std::map<std::string, File> files_;
};

}  // namespace mengine
