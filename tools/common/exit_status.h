// The exit statuses of the utilities (README lists every case).
#pragma once

namespace kvrtools {

inline constexpr int kStatusOk = 0;
// Something failed during the run: a routine skipped, a line rejected, the
// connection lost.
inline constexpr int kStatusFailed = 1;
// The run could not start (settings, connection, login, an output file that
// cannot be opened): reported as 255, always with the usage text.
inline constexpr int kStatusStartupFailed = -1;

// kStatusOk when everything succeeded, else kStatusFailed.
inline constexpr int statusOf(bool succeeded) { return succeeded ? kStatusOk : kStatusFailed; }

}  // namespace kvrtools
