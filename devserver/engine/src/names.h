// The names of M's commands, operators, intrinsic functions and special
// variables, resolved once when a line is parsed: the tree holds these
// enumerations and the interpreter dispatches on them.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace mengine {

enum class Cmd {
  Do, Else, For, Goto, Halt, Hang, If, Kill, Lock, Merge, New, Quit, Set, Write, Xecute,
  ZNspace, ZWrite,
};

enum class Op {
  // binary
  Concat, Add, Subtract, Multiply, Divide, IntDivide, Modulo, Power,
  Equals, Less, Greater, Contains, Follows, SortsAfter, And, Or, Match,
  // unary
  Not, Minus, Plus,
};

enum class Fn {
  Ascii, Char, Data, Extract, Find, Get, Justify, Length, Name, Order, Piece, Query, Random,
  Reverse, Select, Text, Translate, View, ZLower, ZUpper,
};

enum class Svn { Horolog, Io, Job, Storage, Test, X, Y, ZHorolog, ZVersion };

// A command word as written (any case, full or abbreviated). Empty when the
// word names no command this engine knows; commandIsUnsupported then tells a
// standard command the engine does not run from a misspelling.
std::optional<Cmd> findCommand(std::string_view word);
bool commandIsUnsupported(std::string_view word);
// HALT and HANG share the abbreviation H; an argument makes it HANG.
bool commandNeedsArguments(Cmd cmd);

struct FunctionInfo {
  Fn fn;
  std::size_t minArgs;
  std::size_t maxArgs;
  bool takesReference;  // the first argument is a variable, not a value
};
std::optional<FunctionInfo> findFunction(std::string_view word);
std::optional<Svn> findSpecial(std::string_view word);

}  // namespace mengine
