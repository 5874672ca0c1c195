#include "routine_store.h"

#include <sys/stat.h>

#include <cstring>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "file_list.h"
#include "startup.h"

namespace kvrimport {
namespace {

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Every call here is one whose server-side result is not looked at, but a
// lost connection must never pass silently.
void send(bool (*call)(std::string_view), const std::string& text) {
  call(text);
  kvrtools::exitIfConnectionLost();
}

void set(const std::string& name, const std::string& value) {
  kvrtools::setVariable(name, value);
  kvrtools::exitIfConnectionLost();
}

}  // namespace

std::optional<std::string> routineGlobal(std::string_view type) {
  if (type == "INT") return "^ROUTINE";
  if (type == "MAC") return "^rMAC";
  if (type == "INC") return "^rINC";
  return std::nullopt;
}

bool isRoutineTimestamp(std::string_view text) {
  const std::size_t comma = text.find(',');
  return comma != std::string_view::npos && allDigits(text.substr(0, comma)) && allDigits(text.substr(comma + 1));
}

void storeRoutine(const std::string& global, const std::string& name, const std::vector<std::string>& lines,
                  const std::string& timestamp) {
  const std::string node = "@rglobal@(\"" + name + "\"";
  set("rglobal", global);
  send(kvrtools::execute, "k " + node + ")");
  std::size_t characters = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    set(node + "," + std::to_string(i + 1) + ")", lines[i]);
    characters += lines[i].size();
  }
  send(kvrtools::execute, "s " + node + ",0)=" + (timestamp.empty() ? "$h" : "\"" + timestamp + "\""));
  send(kvrtools::execute,
       "s " + node + ")=\"" + std::to_string(lines.size()) + "," + std::to_string(characters) + "\"");
}

std::unique_ptr<std::FILE, FileCloser> openForReading(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  struct stat info {};
  if (file && (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode))) file.reset();
  return file;
}

void reportUnreadable(const std::string& path) {
  std::fflush(stdout);
  std::fprintf(stderr, "Failed to open file %s to read.\n", path.c_str());
}

int runFileImport(int argc, char** argv, std::string_view usage,
                  const std::function<bool(const std::string& path)>& importFile) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, usage)) return *status;

  const std::optional<std::string> fileList = commandLine.positional(1);
  if (!fileList) {
    kvrtools::reportMissingArgument("Routines for import does not specified.", usage);
    return 0;
  }
  int status = 0;
  for (const std::string& path : kvrtools::expandFileList(*fileList))
    if (!importFile(path)) status = 1;
  kvrtools::disconnectServer();
  return status;
}

}  // namespace kvrimport
