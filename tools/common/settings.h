// The six process-wide connection settings and the settings file kvrct.ini.
//
// File format (read from the current directory, else from
// $XDG_CONFIG_HOME/kovra/kvrct.ini, ~/.config/kovra/kvrct.ini without that
// variable; neither = defaults):
//   [connection]          enters the section (any letter case); any other
//                         line starting with "[" leaves it
//   ; comment / # comment ignored inside the section, as are empty lines
//   key = value           server, port, database (keys in any letter case);
//                         split at the first "=", both sides trimmed
//   key                   a bare server, port or database empties it
//   tls, tls_ca, tls_cert, tls_key
//                         the library's KOVRA_TLS, KOVRA_TLS_CA, KOVRA_TLS_CERT
//                         and KOVRA_TLS_KEY; a key given here wins over the
//                         environment, and an empty one sets the default
// Lines are read in pieces of at most 1023 characters. Later lines win.
#pragma once

#include <optional>
#include <string>

namespace kvrtools {

struct Settings {
  std::string server;
  std::string port = "5000";
  std::string database;
  std::string login;
  std::string password;
  std::string mode;
  std::string bulk;  // -b: "on" moves routines many to a request
  // The TLS keys of the settings file; unset when the file does not name
  // them (the environment then decides).
  std::optional<std::string> tls;
  std::optional<std::string> tlsCa;
  std::optional<std::string> tlsCert;
  std::optional<std::string> tlsKey;
};

inline constexpr const char* kSettingsFileName = "kvrct.ini";

// The user's own settings file, read when the current folder has none:
// $XDG_CONFIG_HOME/kovra/kvrct.ini, or ~/.config/kovra/kvrct.ini when that
// variable is unset or empty; empty when there is no home folder either.
std::string userSettingsPath();

// The settings of this process, read by connectServer.
Settings& connectionSettings();

// Applies the file at path to settings. False (settings untouched) when the
// file cannot be opened; that is not an error for the start-up.
bool readSettingsFile(const std::string& path, Settings& settings);

// Hands the TLS keys the settings file gave to the library, which reads its
// TLS settings from the environment when a connection opens: each given key
// replaces its variable, and an empty one removes it.
void applyTlsSettings(const Settings& settings);

// True when the mode is "all" in any letter case: the update modes of kvrdbri
// and kvrdbro then move every routine regardless of dates.
bool modeIsAll(const Settings& settings);

// True when the mode is "changed" in any letter case: kvrdbri and kvrdbro
// then move only the routines whose text differs from the other side's.
bool modeIsChanged(const Settings& settings);

// True when the mode is "watch" in any letter case: kvrdbri then keeps the
// server in step with the files as they are saved.
bool modeIsWatch(const Settings& settings);

// True when the bulk setting is "on" in any letter case; anything else keeps
// one request per routine line.
bool bulkTransfer(const Settings& settings);

// The start-up message for the first of server, port and database that is
// empty, or nullptr when all three are set.
const char* missingSettingMessage(const Settings& settings);

}  // namespace kvrtools
