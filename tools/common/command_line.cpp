#include "command_line.h"

#include <strings.h>

namespace kvrtools {
namespace {

bool isOption(const std::string& word, const char* longName, const char* shortName) {
  return strcasecmp(word.c_str(), longName) == 0 || strcasecmp(word.c_str(), shortName) == 0;
}

std::string* optionTarget(const std::string& word, Settings& settings) {
  if (isOption(word, "-mode", "-m")) return &settings.mode;
  if (isOption(word, "-password", "-w")) return &settings.password;
  if (isOption(word, "-login", "-l")) return &settings.login;
  if (isOption(word, "-server", "-s")) return &settings.server;
  if (isOption(word, "-port", "-p")) return &settings.port;
  if (isOption(word, "-database", "-d")) return &settings.database;
  if (isOption(word, "-bulk", "-b")) return &settings.bulk;
  return nullptr;
}

}  // namespace

CommandLine::CommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) words_.emplace_back(argv[i]);
}

CommandLine::CommandLine(std::vector<std::string> words) : words_(std::move(words)) {}

bool CommandLine::helpRequested() const {
  for (const std::string& word : words_)
    if (isOption(word, "-help", "-h")) return true;
  return false;
}

void CommandLine::applyOptions(Settings& settings) const {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    std::string* target = optionTarget(words_[i], settings);
    if (target && i + 1 < words_.size()) {
      *target = words_[i + 1];
      ++i;
    }
  }
}

std::optional<std::string> CommandLine::positional(std::size_t n) const {
  std::size_t count = 0;
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (!words_[i].empty() && words_[i][0] == '-') {
      ++i;  // an option word takes the word after it along
      continue;
    }
    if (++count == n) return words_[i];
  }
  return std::nullopt;
}

}  // namespace kvrtools
