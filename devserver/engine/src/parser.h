// Parsing of M text. Every function throws ParseError "<SYNTAX>" (or a more
// specific error) with the column where parsing stopped on malformed input,
// and never reads past its input.
#pragma once

#include <memory>
#include <string_view>

#include "ast.h"
#include "scanner.h"

namespace mengine {

enum PatCode : unsigned {
  kPatA = 1, kPatC = 2, kPatE = 4, kPatL = 8, kPatN = 16, kPatP = 32, kPatU = 64
};

// A line of direct-mode commands (no label). A command that does not parse
// becomes a Cmd::Invalid command that raises its error when it is reached,
// so the commands before it run as M systems run them.
std::shared_ptr<const Line> parseCommandLine(std::string_view text);
// A routine line: optional label and formal parameters, line start, dots,
// commands. A bad line start fails at once; a bad command fails at once when
// strict (the compiler's check), else it is deferred as above.
std::shared_ptr<const Line> parseRoutineLine(std::string_view text, bool strict = false);
// A whole expression.
ExprP parseExpression(std::string_view text);
// A whole variable reference (for name indirection and the write request).
Ref parseReference(std::string_view text);
// A comma list of arguments of SET (argument indirection).
std::vector<SetArg> parseSetArguments(std::string_view text);
// A comma list of DO arguments (argument indirection of DO).
std::vector<DoArg> parseDoArguments(std::string_view text);
// A comma list of MERGE arguments (argument indirection of MERGE).
std::vector<MergeArg> parseMergeArguments(std::string_view text);
// A comma list of OPEN, USE or CLOSE arguments (argument indirection).
std::vector<DeviceArg> parseDeviceArguments(std::string_view text);
// Comma lists of WRITE and READ arguments (argument indirection).
std::vector<WriteItem> parseWriteArguments(std::string_view text);
std::vector<ReadItem> parseReadArguments(std::string_view text);
// The whole text as the arguments of a command (argument indirection of
// IF, XECUTE, KILL, NEW, LOCK and HANG).
Command parseArguments(Cmd cmd, std::string_view text);
// A whole argument of $TEXT: [label][+offset][^routine] (its indirection).
EntryRef parseTextArgument(std::string_view text);
// A whole entry reference.
EntryRef parseEntryRef(std::string_view text);
// A whole pattern (pattern indirection).
std::shared_ptr<const Pattern> parsePattern(std::string_view text);

}  // namespace mengine
