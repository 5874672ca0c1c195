// kvrdevserver: a development Kovra Server with an M engine.
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

#include "launch_options.h"
#include "dev_server.h"
#include "stop_signals.h"

int main(int argc, char** argv) {
  using namespace devserver;
  LaunchOptions line;
  try {
    line = parseLaunchOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::cerr << "kvrdevserver: " << error.what() << "\n" << kUsage << "\n";
    return 2;
  }
  if (line.help) {
    std::cout << kUsage << "\n\n" << kHelp << "\n";
    return 0;
  }
  try {
    UniqueFd stop = openStopSignals();
    DevServer server(line);
    std::cout << "listening on " << server.endpoint() << std::endl;
    if (!server.run(stop.get())) {
      // A job still runs (an endless M loop); every acknowledged change is
      // already in the journal, so leaving without tearing down is safe.
      std::cout.flush();
      std::_Exit(0);
    }
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "kvrdevserver: " << error.what() << "\n";
    return 1;
  }
}
