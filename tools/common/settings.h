// The six process-wide connection settings and the settings file kvrct.ini.
//
// File format (read from the current directory; missing file = defaults):
//   [connection]          enters the section (any letter case); any other
//                         line starting with "[" leaves it
//   ; comment / # comment ignored inside the section, as are empty lines
//   key = value           server, port, database (keys in any letter case);
//                         split at the first "=", both sides trimmed
//   key                   a bare server, port or database empties it
// Lines are read in pieces of at most 1023 characters. Later lines win.
#pragma once

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
};

inline constexpr const char* kSettingsFileName = "kvrct.ini";

// The settings of this process, read by connectServer.
Settings& connectionSettings();

// Applies the file at path to settings. False (settings untouched) when the
// file cannot be opened; that is not an error for the start-up.
bool readSettingsFile(const std::string& path, Settings& settings);

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
