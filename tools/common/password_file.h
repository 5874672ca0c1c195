// The password file: a login and password for the server without -w on the
// command line, where every user can read it in the process list.
//
// The file is ~/.kovrapass, or the file that KOVRA_PASSFILE names. Each line
// is server:port:database:login:password; the first line that matches is
// used. A field that is * alone matches anything; \: stands for a colon and
// \\ for a backslash (a backslash before any other character is kept). The
// password is the rest of the line after the fourth separating colon. Empty
// lines and lines beginning with # are skipped, as are lines with fewer than
// five fields or an empty password. Server, port and database are compared
// with the settings as given (-s, -p, -d or kvrct.ini), byte for byte.
//
// The login: with -l, a line matches when its login field is that login or
// *. Without -l, the first matching line whose login field names a login
// (not *) gives both the login and the password.
//
// A file that group or others can read, write or run is ignored with a
// warning on standard error, and so is anything but a plain file: a password
// there is not the user's secret.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "login.h"
#include "settings.h"

namespace kvrtools {

inline constexpr const char* kPasswordFileVariable = "KOVRA_PASSFILE";
inline constexpr const char* kPasswordFileName = ".kovrapass";

struct PasswordQuery {
  std::string server;
  std::string port;
  std::string database;
  std::string login;  // empty: any login, which the line then gives
};

// The login and password of the first line of text that matches query.
std::optional<Credentials> findInPasswordFile(std::string_view text, const PasswordQuery& query);

// KOVRA_PASSFILE when set and not empty, else ~/.kovrapass; empty when there
// is no home folder to look in.
std::string passwordFilePath();

// The text of the file at path, when it may be used. Nothing when it does
// not exist; nothing, with a warning on standard error, when it is not a
// plain file, group or others have access to it, or it cannot be read.
std::optional<std::string> readPasswordFile(const std::string& path);

// Fills the login and password of settings from the password file when a
// line there matches them; leaves them alone otherwise.
void applyPasswordFile(Settings& settings);

}  // namespace kvrtools
