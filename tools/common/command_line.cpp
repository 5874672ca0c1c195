#include "command_line.h"

#include <strings.h>

#include <initializer_list>
#include <string_view>

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

bool isOptionWord(const std::string& word) { return !word.empty() && word[0] == '-'; }

bool isKnownOption(const std::string& word) {
  Settings scratch;
  return optionTarget(word, scratch) != nullptr;
}

// The values of an option that takes only some, as the message names them;
// empty for an option that takes any word.
std::vector<std::string_view> choicesOf(const std::string& option, const std::vector<std::string_view>& moreModes) {
  if (isOption(option, "-mode", "-m")) {
    std::vector<std::string_view> modes = {"all", "update", "changed"};
    modes.insert(modes.end(), moreModes.begin(), moreModes.end());
    return modes;
  }
  if (isOption(option, "-bulk", "-b")) return {"on", "off"};
  return {};
}

bool isOneOf(const std::string& value, const std::vector<std::string_view>& choices) {
  for (std::string_view choice : choices)
    if (strcasecmp(value.c_str(), std::string(choice).c_str()) == 0) return true;
  return false;
}

// Each %s of format replaced by the next of values, in order.
std::string formatted(std::string_view format, std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  for (std::size_t at = 0; at < format.size(); ++at) {
    if (format.substr(at, 2) == "%s" && value != values.end()) {
      text += *value++;
      ++at;
    } else {
      text += format[at];
    }
  }
  return text;
}

std::string listed(const std::vector<std::string_view>& choices) {
  std::string text;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += i + 1 == choices.size() ? " or " : ", ";
    text += choices[i];
  }
  return text;
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

std::optional<std::string> CommandLine::mistake(const std::vector<std::string_view>& moreModes) const {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    const std::string& word = words_[i];
    if (!isOptionWord(word)) continue;
    if (!isKnownOption(word)) return formatted("Unknown option %s.", {word});
    if (i + 1 == words_.size()) return formatted("Option %s needs a value.", {word});
    const std::string& value = words_[++i];
    const std::vector<std::string_view> choices = choicesOf(word, moreModes);
    if (!choices.empty() && !isOneOf(value, choices)) {
      return formatted("Option %s takes %s, not '%s'.", {word, listed(choices), value});
    }
  }
  return std::nullopt;
}

std::vector<std::string> CommandLine::positionals() const {
  std::vector<std::string> found;
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (isOptionWord(words_[i])) {
      ++i;  // an option word takes the word after it along
      continue;
    }
    found.push_back(words_[i]);
  }
  return found;
}

std::optional<std::string> CommandLine::positional(std::size_t n) const {
  std::vector<std::string> found = positionals();
  if (n == 0 || n > found.size()) return std::nullopt;
  return std::move(found[n - 1]);
}

}  // namespace kvrtools
