// kvrdevserver's command line:
//   kvrdevserver [--port N] [--dir DIR] [--greeting ok|connect] [--segment N]
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace devserver {

inline constexpr std::string_view kUsage =
    "usage: kvrdevserver [--port N] [--dir DIR] [--greeting ok|connect] [--segment N]";

struct CommandLine {
  std::uint16_t port = 5000;   // 0 picks a free port
  std::string directory;       // empty: everything in memory
  bool loginGreeting = false;  // --greeting connect
  std::size_t segment = 0;     // 0: replies whole
  bool help = false;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the words after the program name; throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string_view>& words);

}  // namespace devserver
