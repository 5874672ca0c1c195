// The login dialogue that connectServer runs when the server asks for a
// login and the settings do not hold both login and password.
#pragma once

#include <string>

namespace kvrtools {

struct Credentials {
  std::string login;
  std::string password;
};

// Longest login or password kept; the rest of the typed line is dropped.
inline constexpr std::size_t kMaxCredential = 255;

// Prompts "Login: " and "Password: " on standard output and reads both from
// standard input, the password without echo (the terminal is restored also
// when the program is interrupted meanwhile). Nothing when standard output or
// standard input is not a terminal.
bool promptCredentials(Credentials& credentials);

}  // namespace kvrtools
