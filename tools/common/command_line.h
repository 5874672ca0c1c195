// The command line shared by every utility: the help check, the common
// options (each takes the next word as its value) and positional arguments.
//
// Options, matched exactly but in any letter case: -mode/-m, -password/-w,
// -login/-l, -server/-s, -port/-p, -database/-d, -bulk/-b. Any word starting with "-"
// is an option word and is skipped together with the word after it when
// positional arguments are counted; every other word is positional.
//
// A line with a word no utility understands is refused before anything is
// dialled (see mistake()): an unknown option would otherwise swallow the
// word after it, and a misspelt mode would quietly mean another one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace kvrtools {

class CommandLine {
 public:
  CommandLine(int argc, const char* const* argv);
  explicit CommandLine(std::vector<std::string> words);  // words after the program name

  // True when any word is -h or -help in any letter case, wherever it stands
  // (also as the value of an option).
  bool helpRequested() const;

  // Writes the option values into settings; the later of two equal options
  // wins; an option that is the last word has no value and is ignored.
  void applyOptions(Settings& settings) const;

  // The first word that is not understood, described for standard error:
  // an option that no utility has, an option that is the last word (so has
  // no value), or a value that is not one of the option's values (-mode:
  // all, update or changed, then moreModes, the modes only the utility at
  // hand has; -bulk: on or off; any letter case). Nothing when every word
  // is understood.
  std::optional<std::string> mistake(const std::vector<std::string_view>& moreModes = {}) const;

  // Positional argument n (counted from 1), or nothing.
  std::optional<std::string> positional(std::size_t n) const;
  // Every positional argument, in command-line order.
  std::vector<std::string> positionals() const;

 private:
  std::vector<std::string> words_;
};

}  // namespace kvrtools
