#include "names.h"

#include "text.h"

namespace mengine {
namespace {

struct CommandName {
  std::string_view full, abbrev;
  Cmd cmd;
};
constexpr CommandName kCommands[] = {
    {"DO", "D", Cmd::Do},         {"ELSE", "E", Cmd::Else},     {"FOR", "F", Cmd::For},
    {"GOTO", "G", Cmd::Goto},     {"HALT", "H", Cmd::Halt},     {"HANG", "H", Cmd::Hang},
    {"IF", "I", Cmd::If},         {"KILL", "K", Cmd::Kill},     {"LOCK", "L", Cmd::Lock},
    {"MERGE", "M", Cmd::Merge},   {"NEW", "N", Cmd::New},       {"QUIT", "Q", Cmd::Quit},
    {"SET", "S", Cmd::Set},       {"WRITE", "W", Cmd::Write},   {"XECUTE", "X", Cmd::Xecute},
    {"ZNSPACE", "ZN", Cmd::ZNspace}, {"ZWRITE", "ZW", Cmd::ZWrite},
};

// Standard commands this engine does not provide.
constexpr std::string_view kUnsupported[] = {
    "B", "BREAK", "C", "CLOSE", "J", "JOB", "O", "OPEN", "R", "READ", "U", "USE", "V", "VIEW",
    "TS", "TSTART", "TC", "TCOMMIT", "TRO", "TROLLBACK"};

// $CHAR takes as many codes as a string has bytes: quoted texts put every run
// of control bytes into one call.
struct FunctionName {
  std::string_view full, abbrev;
  FunctionInfo info;
};
constexpr FunctionName kFunctions[] = {
    {"ASCII", "A", {Fn::Ascii, 1, 2, false}},       {"CHAR", "C", {Fn::Char, 1, 32767, false}},
    {"DATA", "D", {Fn::Data, 1, 1, true}},          {"EXTRACT", "E", {Fn::Extract, 1, 3, false}},
    {"FIND", "F", {Fn::Find, 2, 3, false}},         {"GET", "G", {Fn::Get, 1, 2, true}},
    {"JUSTIFY", "J", {Fn::Justify, 2, 3, false}},   {"LENGTH", "L", {Fn::Length, 1, 2, false}},
    {"ORDER", "O", {Fn::Order, 1, 2, true}},        {"PIECE", "P", {Fn::Piece, 2, 4, false}},
    {"SELECT", "S", {Fn::Select, 2, 1000, false}},  {"TRANSLATE", "TR", {Fn::Translate, 2, 3, false}},
    {"ZUPPER", "ZU", {Fn::ZUpper, 1, 1, false}},    {"VIEW", "V", {Fn::View, 1, 4, false}},
    {"RANDOM", "R", {Fn::Random, 1, 1, false}},     {"REVERSE", "RE", {Fn::Reverse, 1, 1, false}},
    {"ZLOWER", "ZL", {Fn::ZLower, 1, 1, false}},    {"NAME", "NA", {Fn::Name, 1, 1, true}},
    {"TEXT", "T", {Fn::Text, 0, 0, false}},         {"QUERY", "Q", {Fn::Query, 1, 1, true}},
};

struct SpecialName {
  std::string_view full, abbrev;
  Svn svn;
};
constexpr SpecialName kSpecials[] = {
    {"HOROLOG", "H", Svn::Horolog}, {"TEST", "T", Svn::Test},         {"JOB", "J", Svn::Job},
    {"IO", "I", Svn::Io},           {"X", "X", Svn::X},               {"Y", "Y", Svn::Y},
    {"ZVERSION", "ZV", Svn::ZVersion}, {"STORAGE", "S", Svn::Storage}, {"ZHOROLOG", "ZH", Svn::ZHorolog},
};

// The first row whose full name or abbreviation is word, in any case.
template <typename Row, size_t N>
const Row* lookup(const Row (&table)[N], std::string_view word) {
  std::string name = upperCase(word);
  for (const Row& row : table)
    if (name == row.full || name == row.abbrev) return &row;
  return nullptr;
}

}  // namespace

std::optional<Cmd> findCommand(std::string_view word) {
  if (const CommandName* row = lookup(kCommands, word)) return row->cmd;
  return std::nullopt;
}

bool commandIsUnsupported(std::string_view word) {
  std::string name = upperCase(word);
  for (std::string_view n : kUnsupported)
    if (name == n) return true;
  return false;
}

bool commandNeedsArguments(Cmd cmd) {
  switch (cmd) {
    case Cmd::Set: case Cmd::Xecute: case Cmd::Hang: case Cmd::Merge: case Cmd::ZNspace:
    case Cmd::Goto:
      return true;
    default:
      return false;
  }
}

std::optional<FunctionInfo> findFunction(std::string_view word) {
  if (const FunctionName* row = lookup(kFunctions, word)) return row->info;
  return std::nullopt;
}

std::optional<Svn> findSpecial(std::string_view word) {
  if (const SpecialName* row = lookup(kSpecials, word)) return row->svn;
  return std::nullopt;
}

}  // namespace mengine
