#include "settings.h"

#include <strings.h>

#include <cstdio>

#include "local_files.h"

namespace kvrtools {
namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string* settingNamed(const std::string& key, Settings& settings) {
  if (equalsIgnoringCase(key, "server")) return &settings.server;
  if (equalsIgnoringCase(key, "port")) return &settings.port;
  if (equalsIgnoringCase(key, "database")) return &settings.database;
  return nullptr;
}

void applyLine(const std::string& line, Settings& settings) {
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) {
    if (std::string* setting = settingNamed(line, settings)) setting->clear();
    return;
  }
  if (std::string* setting = settingNamed(trimText(line.substr(0, equals)), settings))
    *setting = trimText(line.substr(equals + 1));
}

}  // namespace

Settings& connectionSettings() {
  static Settings settings;
  return settings;
}

bool readSettingsFile(const std::string& path, Settings& settings) {
  const FilePtr file(std::fopen(path.c_str(), "r"));
  if (!file) return false;
  char buffer[1024];
  bool inSection = false;
  while (std::fgets(buffer, sizeof buffer, file.get())) {
    const std::string line = trimText(buffer);
    if (equalsIgnoringCase(line, "[connection]")) {
      inSection = true;
    } else if (!line.empty() && line[0] == '[') {
      inSection = false;
    } else if (inSection) {
      applyLine(line, settings);
    }
  }
  return true;
}

bool modeIsAll(const Settings& settings) { return equalsIgnoringCase(settings.mode, "all"); }

bool modeIsChanged(const Settings& settings) { return equalsIgnoringCase(settings.mode, "changed"); }

bool modeIsWatch(const Settings& settings) { return equalsIgnoringCase(settings.mode, "watch"); }

bool bulkTransfer(const Settings& settings) { return equalsIgnoringCase(settings.bulk, "on"); }

const char* missingSettingMessage(const Settings& settings) {
  if (settings.server.empty()) return "Kovra TCP/IP server does not defined in connection.";
  if (settings.port.empty()) return "Kovra TCP/IP port does not defined in connection.";
  if (settings.database.empty()) return "Kovra database name does not defined in connection.";
  return nullptr;
}

}  // namespace kvrtools
