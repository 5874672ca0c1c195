// The binding layer: the only way a utility reaches the Kovra Server. It loads
// libkovrasc.so at run time (never by link) from where library_location.h
// says, resolves the 17 KVR names, keeps the one connection of the process
// and relays the library's call-backs to the utility's handlers.
//
// Conventions:
//  - One connection per process; every function here works on it.
//  - Every call is checked here: a failed one is settled by the failure rule
//    in force (call_failure.h) before the call returns, so a lost connection
//    never comes back to the caller. A call that does return answers whether
//    the server carried it out.
//  - connectServer prints only its start-up messages (load failure, connect
//    failure, login needed), each failure's reason on standard error after
//    its fixed message.
//  - Texts are byte strings, sent whole or not at all: a call with a text
//    longer than a KOVRA_STR holds (kMaxCallText) is not made; it is settled
//    as unsent (call_failure.h) and answers false.
//  - Handlers run synchronously inside execute/executeWithOutput on the
//    caller's thread; they must not call back into this layer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kvrtools {

// Receiver of one text from the server (a piece of terminal output, or one
// value handed back by wo^%srv).
using TextHandler = std::function<void(const std::string&)>;

// The most bytes one text of a call can carry.
inline constexpr std::size_t kMaxCallText = 32768;

// True when text can go to the server whole in one call.
bool fitsOneCall(std::string_view text);

// Binds the library, opens the connection with the process-wide settings
// (settings.h) and runs the login dialogue when the server asks for a login:
// without -w the password file (password_file.h), then the prompt.
// True when connected and, where needed, logged in. Prints the failure
// messages of the start-up on standard output.
bool connectServer();

// For a run that outlives its connection: closes what is left of it and
// connects again as connectServer does, with the same settings (and the
// login and password the first login used), but prints nothing when the
// library cannot be loaded or the server cannot be reached: the caller,
// trying again and again, says what it is waiting for.
bool reconnectServer();

// Closes and destroys the connection, unloads the library and clears the
// bound names. Safe in any state; does nothing the second time.
void disconnectServer();

// Evaluates an M expression. Nothing when the server rejected it (the
// result record is not trusted then).
std::optional<std::string> evaluate(std::string_view expression);

// Sets an M reference (a local, a global, or an indirection) to a text.
// False when the server rejected it.
bool setVariable(std::string_view name, std::string_view value);

// Executes one line of M commands; values handed back reach the group-read
// handler. False when the server rejected it.
bool execute(std::string_view line);

// Executes one line of M commands and relays its terminal output to the
// output handler. False when the server rejected it.
bool executeWithOutput(std::string_view line);

// The M expression whose value is text (the library's quoting: string
// literals with doubled quotes, control bytes through $C). Nothing when the
// expression would not fit a call record, or the library is not bound.
std::optional<std::string> quoteM(std::string_view text);

// Install or (with an empty handler) remove the receivers. The output
// handler's setter hands back the one it replaced, for code that borrows it.
TextHandler setOutputHandler(TextHandler handler);
void setGroupReadHandler(TextHandler handler);

}  // namespace kvrtools
