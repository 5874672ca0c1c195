#include "connection_lost.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "binding.h"

namespace kvrtools {

bool isServerRejection(std::string_view errorText) {
  // The library words every failure the server reports for a line this way;
  // the connection stays open after it.
  return errorText.starts_with("Internal server error:");
}

bool connectionLost() { return lastCallFailed() && !isServerRejection(lastError()); }

void exitIfConnectionLost() {
  if (!connectionLost()) return;
  const std::string text = lastError() + "\n";
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  disconnectServer();
  std::exit(1);
}

}  // namespace kvrtools
