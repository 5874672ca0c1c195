// Why OpenSSL failed, in words: shared by the library's TLS session and
// kvrdevserver's, so both sides word a failure the same way.
#pragma once

#include <openssl/err.h>

#include <cstring>
#include <string>

namespace kovra::wire {

// Empties this thread's OpenSSL error queue and returns its reason: the
// system's words when a system call failed (a missing file), else OpenSSL's
// last reason, else fallback. lastCode, when given, receives the last code.
inline std::string QueuedTlsReason(const char* fallback, unsigned long* lastCode = nullptr) {
  unsigned long last = 0;
  int systemError = 0;
  for (unsigned long code; (code = ERR_get_error()) != 0;) {
    last = code;
    if (ERR_SYSTEM_ERROR(code) && systemError == 0) systemError = ERR_GET_REASON(code);
  }
  if (lastCode != nullptr) *lastCode = last;
  if (systemError != 0) return std::strerror(systemError);
  const char* reason = last != 0 ? ERR_reason_error_string(last) : nullptr;
  return reason != nullptr ? reason : fallback;
}

// Empties this thread's OpenSSL error queue if anything is in it, so that
// SSL_get_error judges the next call by that call alone. Cheaper than an
// unconditional ERR_clear_error, which walks the whole queue on every record
// sent or received.
inline void ForgetStaleTlsErrors() {
  if (ERR_peek_error() != 0) ERR_clear_error();
}

}  // namespace kovra::wire
