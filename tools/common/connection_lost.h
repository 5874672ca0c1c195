// What a utility does when the connection to the server is gone: it is never
// silent about it. A failure the server reports for a line it rejected is
// not a lost connection; every other failure of a library call is.
#pragma once

#include <string_view>

namespace kvrtools {

// True when the library's error text is the server's rejection of a line
// (the connection is still usable after it).
bool isServerRejection(std::string_view errorText);

// True when the most recent library call failed for any reason other than a
// server rejection, so the connection can no longer be relied on.
bool connectionLost();

// When connectionLost(): prints the library's error text and a line feed on
// standard error, disconnects and ends the process with status 1. Otherwise
// returns. Utilities call it after each library call whose result they would
// otherwise not look at.
void exitIfConnectionLost();

}  // namespace kvrtools
