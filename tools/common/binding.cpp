#include "binding.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>

#include "call_failure.h"
#include "kovrasc.h"
#include "library_location.h"
#include "login.h"
#include "password_file.h"
#include "settings.h"

namespace kvrtools {
namespace {

using CreateConnectFn = void* (*)(const char*, int, const char*);
using HandleFn = void (*)(void*);
using OpenCloseFn = int (*)(void*);
using LastErrorFn = void (*)(void*, KOVRA_STR*);
using ReadWriteFn = int (*)(void*, KOVRA_STR*, KOVRA_STR*);
using ExecuteFn = int (*)(void*, KOVRA_STR*);
using SetOutputFn = void (*)(void*, kvroutput_t);
using SetGroupReadFn = void (*)(void*, kvrgroupread_t);
using TextFn = int (*)(KOVRA_STR*, KOVRA_STR*);

// All 17 names, in the order they are resolved. Binding fails at the first
// missing one, also for the names no utility calls, so a half-built library
// is refused before any connection is made.
constexpr std::array<const char*, 17> kNames = {
    "KVRCreateConnect", "KVRDestroyConnect", "KVRConnectOpen",   "KVRConnectClose",
    "KVRGetLastError",  "KVRRead",           "KVRWrite",         "KVRExecute",
    "KVRKill",          "KVRSetOutput",      "KVRExecuteOutput", "KVRSetGroupRead",
    "KVRSetCallback",   "KVRListGet",        "KVRListSet",       "KVRListLength",
    "KVRText"};
enum NameIndex {
  kCreateConnect, kDestroyConnect, kConnectOpen, kConnectClose, kGetLastError, kRead, kWrite,
  kExecute, kKill, kSetOutput, kExecuteOutput, kSetGroupRead, kSetCallback, kListGet, kListSet,
  kListLength, kText
};

struct LibraryCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

static_assert(kMaxCallText == KOVRA_STR_MAX);

// A full record per text, on the heap: the records are 32 KiB each. Only len
// and the bytes it counts are ever read, so the rest is left uninitialised:
// clearing 32 KiB per record would cost more than the call's round trip.
// Called only with texts that fit (sendable).
std::unique_ptr<KOVRA_STR> toRecord(std::string_view text) {
  auto record = std::make_unique_for_overwrite<KOVRA_STR>();
  record->len = static_cast<uint16_t>(text.size());
  if (!text.empty()) std::memcpy(record->str, text.data(), text.size());
  return record;
}

// True when every text of a call fits its record. Otherwise the call is not
// made and is settled as unsent: cut, a text would be another command (a
// line cut after "k ^G" kills the whole global).
bool sendable(std::initializer_list<std::string_view> texts) {
  for (std::string_view text : texts) {
    if (fitsOneCall(text)) continue;
    static_assert(kMaxCallText == 32768);
    char reason[128];
    std::snprintf(reason, sizeof reason, "Not sent: a text of %s bytes does not fit in one call (at most 32768 bytes).",
                  std::to_string(text.size()).c_str());
    settleUnsentCall(reason);
    return false;
  }
  return true;
}

std::unique_ptr<KOVRA_STR> emptyRecord() {
  auto record = std::make_unique_for_overwrite<KOVRA_STR>();
  record->len = 0;
  return record;
}

std::string fromRecord(const KOVRA_STR& record) {
  return std::string(record.str, std::min<std::size_t>(record.len, KOVRA_STR_MAX));
}

struct Binding {
  LibraryHandle library;
  std::array<void*, kNames.size()> functions{};
  void* connection = nullptr;
  bool connectionLost = false;  // a call failed other than by the server's rejection
  TextHandler outputHandler;
  TextHandler groupReadHandler;

  template <typename Fn>
  Fn function(NameIndex index) const {
    return reinterpret_cast<Fn>(functions[index]);
  }
};

Binding& binding() {
  static Binding instance;
  return instance;
}

void outputBridge(void*, KOVRA_STR* text) {
  const TextHandler& handler = binding().outputHandler;
  if (handler && text) handler(fromRecord(*text));
}

void groupReadBridge(void*, KOVRA_STR* value) {
  const TextHandler& handler = binding().groupReadHandler;
  if (handler && value) handler(fromRecord(*value));
}

// A start-up failure's reason: on standard error, after the fixed message.
void printReason(const std::string& reason) {
  if (reason.empty()) return;
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", reason.c_str());
  std::fflush(stderr);
}

void printLoadFailure(const std::string& shown, const std::string& reason) {
  std::printf("Failed to load %s to connect to Kovra Server.\n", shown.c_str());
  std::fflush(stdout);
  printReason(reason);
}

// Whether a failed connection attempt says so on standard output.
enum class FailureReport { kPrinted, kQuiet };

bool bindLibrary(FailureReport report) {
  Binding& b = binding();
  if (b.library) return true;
  const LibraryChoice choice = chooseLibrary(programFolder(), kInstalledLibraryFolder, ".");
  if (choice.path.empty()) {
    if (report == FailureReport::kPrinted) printLoadFailure(choice.shown, choice.refusal);
    return false;
  }
  b.library.reset(dlopen(choice.path.c_str(), RTLD_LAZY));
  if (!b.library) {
    const char* why = dlerror();
    if (report == FailureReport::kPrinted) printLoadFailure(choice.shown, why ? why : "");
    return false;
  }
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    b.functions[i] = dlsym(b.library.get(), kNames[i]);
    if (!b.functions[i]) {
      disconnectServer();
      if (report == FailureReport::kPrinted) {
        printLoadFailure(choice.shown, choice.path + " lacks " + kNames[i]);
      }
      return false;
    }
  }
  return true;
}

// Decimal value of the leading digits; no digits give 0. Saturates instead of
// overflowing on absurdly long digit runs.
int leadingNumber(const std::string& text) {
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<long long>(value * 10 + (c - '0'), 1LL << 40);
  }
  return static_cast<int>(std::min<long long>(value, 0x7fffffff));
}

// The library's error text for the connection (empty without one).
std::string lastError() {
  Binding& b = binding();
  if (!b.connection) return {};
  auto result = emptyRecord();
  b.function<LastErrorFn>(kGetLastError)(b.connection, result.get());
  return fromRecord(*result);
}

// Every call ends here; a failed one is settled before the caller sees it.
bool checked(int succeeded) {
  if (succeeded) return true;
  const std::string error = lastError();
  if (!isServerRejection(error)) binding().connectionLost = true;
  settleFailedCall(error);
  return false;
}

// The port as a number from 1 to 65535; nothing for any other text, which
// would dial a port nobody named ("105217" wraps to 39681).
std::optional<int> portNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<int>(value);
}

void printConnectFailure(const Settings& settings) {
  std::printf("Failed to connect to Kovra Server at %s:%s, database %s.\n", settings.server.c_str(),
              settings.port.c_str(), settings.database.c_str());
  std::fflush(stdout);
}

// The login check. A connection lost during it fails the start-up, not the
// run; a refused login is said so before the usage text.
bool logIn() {
  const FailureRule startUp(Rejection::kFailsStartUp, "Connection lost during the login check: ");
  Settings& settings = connectionSettings();
  const std::string loginExpression =
      evaluate(R"($$ReadString^%INI($v("proc",6)_"kovra.ini","Login","GUI"))").value_or("");
  if (binding().connectionLost) return false;
  if (loginExpression.empty()) return true;
  if (settings.password.empty()) applyPasswordFile(settings);
  if (settings.login.empty() || settings.password.empty()) {
    Credentials typed;
    if (!promptCredentials(typed)) return false;
    settings.login = typed.login;
    settings.password = typed.password;
  }
  setVariable("%username", settings.login);
  if (!binding().connectionLost) setVariable("%password", settings.password);
  if (binding().connectionLost) return false;
  const std::string verdict = evaluate(loginExpression).value_or("");
  if (binding().connectionLost) return false;
  if (leadingNumber(verdict) != 0) return true;
  std::fflush(stdout);
  std::fputs("The Kovra Server refused the login.\n", stderr);
  return false;
}

bool connectWith(FailureReport report) {
  if (!bindLibrary(report)) return false;
  Binding& b = binding();
  const Settings& settings = connectionSettings();
  const std::optional<int> port = portNumber(settings.port);
  if (!port) {
    disconnectServer();
    if (report == FailureReport::kPrinted) {
      printConnectFailure(settings);
      printReason("port " + settings.port + " is not a number from 1 to 65535");
    }
    return false;
  }
  b.connectionLost = false;
  applyTlsSettings(settings);
  b.connection = b.function<CreateConnectFn>(kCreateConnect)(settings.server.c_str(), *port,
                                                             settings.database.c_str());
  // Handlers installed before the connection existed reach the library now.
  if (b.outputHandler) b.function<SetOutputFn>(kSetOutput)(b.connection, outputBridge);
  if (b.groupReadHandler) b.function<SetGroupReadFn>(kSetGroupRead)(b.connection, groupReadBridge);
  if (!b.function<OpenCloseFn>(kConnectOpen)(b.connection)) {
    const std::string reason = lastError();
    disconnectServer();
    if (report == FailureReport::kPrinted) {
      printConnectFailure(settings);
      printReason(reason);
    }
    return false;
  }
  return logIn();
}

}  // namespace

bool fitsOneCall(std::string_view text) { return text.size() <= kMaxCallText; }

bool connectServer() { return connectWith(FailureReport::kPrinted); }

bool reconnectServer() {
  disconnectServer();
  return connectWith(FailureReport::kQuiet);
}

void disconnectServer() {
  Binding& b = binding();
  if (b.connection) {
    b.function<OpenCloseFn>(kConnectClose)(b.connection);
    b.function<HandleFn>(kDestroyConnect)(b.connection);
    b.connection = nullptr;
  }
  b.library.reset();
  b.functions.fill(nullptr);
}

std::optional<std::string> evaluate(std::string_view expression) {
  Binding& b = binding();
  if (!b.connection || !sendable({expression})) return std::nullopt;
  auto request = toRecord(expression);
  auto result = emptyRecord();
  if (!checked(b.function<ReadWriteFn>(kRead)(b.connection, request.get(), result.get()))) return std::nullopt;
  return fromRecord(*result);
}

bool setVariable(std::string_view name, std::string_view value) {
  Binding& b = binding();
  if (!b.connection || !sendable({name, value})) return false;
  auto nameRecord = toRecord(name);
  auto valueRecord = toRecord(value);
  return checked(b.function<ReadWriteFn>(kWrite)(b.connection, nameRecord.get(), valueRecord.get()));
}

bool execute(std::string_view line) {
  Binding& b = binding();
  if (!b.connection || !sendable({line})) return false;
  auto record = toRecord(line);
  return checked(b.function<ExecuteFn>(kExecute)(b.connection, record.get()));
}

bool executeWithOutput(std::string_view line) {
  Binding& b = binding();
  if (!b.connection || !sendable({line})) return false;
  auto record = toRecord(line);
  return checked(b.function<ExecuteFn>(kExecuteOutput)(b.connection, record.get()));
}

std::optional<std::string> quoteM(std::string_view text) {
  Binding& b = binding();
  if (!b.functions[kText] || text.size() > KOVRA_STR_MAX) return std::nullopt;
  // Quoting runs once per routine line of a bulk import: one pair of records
  // serves every call instead of two fresh 32 KiB records each time.
  static const std::unique_ptr<KOVRA_STR> input = emptyRecord();
  static const std::unique_ptr<KOVRA_STR> literal = emptyRecord();
  input->len = static_cast<uint16_t>(text.size());
  if (!text.empty()) std::memcpy(input->str, text.data(), text.size());
  if (!b.function<TextFn>(kText)(input.get(), literal.get())) return std::nullopt;
  return fromRecord(*literal);
}

TextHandler setOutputHandler(TextHandler handler) {
  Binding& b = binding();
  TextHandler previous = std::exchange(b.outputHandler, std::move(handler));
  if (b.connection)
    b.function<SetOutputFn>(kSetOutput)(b.connection, b.outputHandler ? outputBridge : nullptr);
  return previous;
}

void setGroupReadHandler(TextHandler handler) {
  Binding& b = binding();
  b.groupReadHandler = std::move(handler);
  if (b.connection)
    b.function<SetGroupReadFn>(kSetGroupRead)(b.connection, b.groupReadHandler ? groupReadBridge : nullptr);
}

}  // namespace kvrtools
