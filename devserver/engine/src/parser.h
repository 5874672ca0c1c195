// Parsing of M text. Every function throws MError "<SYNTAX>" (or a more
// specific error) on malformed input and never reads past its input.
#pragma once

#include <memory>
#include <string_view>

#include "ast.h"

namespace mengine {

enum PatCode : unsigned {
  kPatA = 1, kPatC = 2, kPatE = 4, kPatL = 8, kPatN = 16, kPatP = 32, kPatU = 64
};

// A line of direct-mode commands (no label).
std::shared_ptr<const Line> parseCommandLine(std::string_view text);
// A routine line: optional label and formal parameters, line start, dots, commands.
std::shared_ptr<const Line> parseRoutineLine(std::string_view text);
// A whole expression.
ExprP parseExpression(std::string_view text);
// A whole variable reference (for name indirection and the write request).
Ref parseReference(std::string_view text);
// A comma list of arguments of SET (argument indirection).
std::vector<SetArg> parseSetArguments(std::string_view text);
// A comma list of references (argument indirection of KILL and NEW).
std::vector<Ref> parseReferences(std::string_view text);
// A comma list of DO arguments (argument indirection of DO).
std::vector<DoArg> parseDoArguments(std::string_view text);
// A whole pattern (pattern indirection).
std::shared_ptr<const Pattern> parsePattern(std::string_view text);

}  // namespace mengine
