// The names of M's commands, operators, intrinsic functions, special
// variables and structured system variables, resolved once when a line is
// parsed: the tree holds these enumerations and the interpreter dispatches
// on them. Names beginning with Z that the engine does not know resolve to
// the Z... "other" members: they parse, and fail only when run.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace mengine {

enum class Cmd {
  Break, Close, Do, Else, For, Goto, Halt, Hang, If, Job, Kill, Lock, Merge, New, Open, Quit,
  Read, Set, TCommit, TRestart, TRollback, TStart, Use, View, Write, Xecute,
  ZNspace, ZWrite, ZOther,
  Invalid,  // a command that did not parse: its error is raised when it is reached
};

enum class Op {
  // binary
  Concat, Add, Subtract, Multiply, Divide, IntDivide, Modulo, Power,
  Equals, Less, Greater, Contains, Follows, SortsAfter, And, Or, Match,
  // unary
  Not, Minus, Plus,
};

enum class Fn {
  Ascii, Char, Data, Extract, Find, FNumber, Get, Increment, Justify, Length, Name, Next, Order,
  Piece, QLength, QSubscript, Query, Random, Reverse, Select, Stack, Text, Translate, View,
  ZLower, ZUpper, ZOther,
};

enum class Svn {
  Device, ECode, EStack, ETrap, Horolog, Io, Job, Key, Principal, Quit, Stack, Storage, System,
  Test, TLevel, TRestart, X, Y, ZEof, ZError, ZHorolog, ZVersion, ZOther,
};

enum class Ssvn { Character, Device, Global, Job, Lock, Routine, System, ZOther };

// A command word as written (any case, full or abbreviated); a word starting
// with Z that names no command here is ZOther. Empty for anything else.
std::optional<Cmd> findCommand(std::string_view word);
// The commands that cannot stand without an argument.
bool commandNeedsArguments(Cmd cmd);

// How a function's arguments are written.
enum class ArgForm {
  Values,     // expressions
  Reference,  // a variable first, then expressions
  Select,     // truth:value pairs
  Text,       // an entry reference
  Any,        // implementation-specific: expressions, any of them absent
};

struct FunctionInfo {
  Fn fn;
  std::size_t minArgs;
  std::size_t maxArgs;
  ArgForm form;
};
std::optional<FunctionInfo> findFunction(std::string_view word);
std::optional<Svn> findSpecial(std::string_view word);
std::optional<Ssvn> findStructured(std::string_view word);

}  // namespace mengine
