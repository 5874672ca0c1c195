#include "login.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iterator>

namespace kvrtools {
namespace {

// The terminal state to put back if a signal ends the program while echo is
// off. Written before the handlers are installed, read only by them.
termios savedTerminal;
constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[sizeof kRestoredSignals / sizeof kRestoredSignals[0]];

extern "C" void restoreTerminalAndResignal(int signo) {
  tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  signal(signo, SIG_DFL);
  raise(signo);
}

// Echo and line editing off for as long as the password is typed (not per
// character, so type-ahead is never echoed between two reads); restored on
// every way out, signals included.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    active_ = true;
    struct sigaction action {};
    action.sa_handler = restoreTerminalAndResignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i) {
      sigaction(kRestoredSignals[i], nullptr, &previousActions[i]);
      if (previousActions[i].sa_handler != SIG_IGN) sigaction(kRestoredSignals[i], &action, nullptr);
    }
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  ~EchoOff() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i)
      sigaction(kRestoredSignals[i], &previousActions[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool active_ = false;
};

void trimTrailing(std::string& text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
}

// Reads up to the end of the line (CR or LF, neither kept) or of the input,
// keeping at most kMaxCredential characters; the rest of the line is read and
// dropped so it never answers the next prompt.
std::string readCredential(bool stopAtCarriageReturn) {
  std::string text;
  for (;;) {
    const int c = std::getchar();
    if (c == EOF || c == '\n' || (stopAtCarriageReturn && c == '\r')) break;
    if (text.size() < kMaxCredential) text.push_back(static_cast<char>(c));
  }
  trimTrailing(text);
  return text;
}

}  // namespace

bool promptCredentials(Credentials& credentials) {
  if (!isatty(STDOUT_FILENO) || !isatty(STDIN_FILENO)) {
    std::printf("Logon using user login and password required.\n");
    std::fflush(stdout);
    return false;
  }
  std::printf("Login: ");
  std::fflush(stdout);
  credentials.login = readCredential(false);
  {
    // Echo goes off before the prompt shows, so nothing typed after the
    // prompt can be echoed.
    EchoOff echoOff;
    std::printf("Password: ");
    std::fflush(stdout);
    credentials.password = readCredential(true);
  }
  std::printf("\n");
  std::fflush(stdout);
  return true;
}

}  // namespace kvrtools
