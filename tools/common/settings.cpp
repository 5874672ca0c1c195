#include "settings.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>

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

std::optional<std::string>* tlsSettingNamed(const std::string& key, Settings& settings) {
  if (equalsIgnoringCase(key, "tls")) return &settings.tls;
  if (equalsIgnoringCase(key, "tls_ca")) return &settings.tlsCa;
  if (equalsIgnoringCase(key, "tls_cert")) return &settings.tlsCert;
  if (equalsIgnoringCase(key, "tls_key")) return &settings.tlsKey;
  return nullptr;
}

void applyLine(const std::string& line, Settings& settings) {
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  const std::size_t equals = line.find('=');
  const std::string key = equals == std::string::npos ? line : trimText(line.substr(0, equals));
  const std::string value = equals == std::string::npos ? std::string() : trimText(line.substr(equals + 1));
  if (std::string* setting = settingNamed(key, settings)) *setting = value;
  if (std::optional<std::string>* setting = tlsSettingNamed(key, settings)) *setting = value;
}

void applyVariable(const char* name, const std::optional<std::string>& value) {
  if (!value) return;
  if (value->empty()) {
    ::unsetenv(name);
  } else {
    ::setenv(name, value->c_str(), 1);
  }
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

std::string userSettingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config != nullptr && *config != '\0') {
    folder = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.config";
  } else {
    return {};
  }
  return folder + "/kovra/" + kSettingsFileName;
}

void applyTlsSettings(const Settings& settings) {
  applyVariable("KOVRA_TLS", settings.tls);
  applyVariable("KOVRA_TLS_CA", settings.tlsCa);
  applyVariable("KOVRA_TLS_CERT", settings.tlsCert);
  applyVariable("KOVRA_TLS_KEY", settings.tlsKey);
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
