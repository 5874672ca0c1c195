#include "names.h"

#include "text.h"

namespace mengine {
namespace {

template <typename Value>
struct Name {
  std::string_view full, abbrev;
  Value value;
};

constexpr Name<Cmd> kCommands[] = {
    {"BREAK", "B", Cmd::Break},          {"CLOSE", "C", Cmd::Close},
    {"DO", "D", Cmd::Do},                {"ELSE", "E", Cmd::Else},
    {"FOR", "F", Cmd::For},              {"GOTO", "G", Cmd::Goto},
    {"HALT", "H", Cmd::Halt},            {"HANG", "H", Cmd::Hang},
    {"IF", "I", Cmd::If},                {"JOB", "J", Cmd::Job},
    {"KILL", "K", Cmd::Kill},            {"LOCK", "L", Cmd::Lock},
    {"MERGE", "M", Cmd::Merge},          {"NEW", "N", Cmd::New},
    {"OPEN", "O", Cmd::Open},            {"QUIT", "Q", Cmd::Quit},
    {"READ", "R", Cmd::Read},            {"SET", "S", Cmd::Set},
    {"TCOMMIT", "TC", Cmd::TCommit},     {"TRESTART", "TRE", Cmd::TRestart},
    {"TROLLBACK", "TRO", Cmd::TRollback}, {"TSTART", "TS", Cmd::TStart},
    {"USE", "U", Cmd::Use},              {"VIEW", "V", Cmd::View},
    {"WRITE", "W", Cmd::Write},          {"XECUTE", "X", Cmd::Xecute},
    {"ZNSPACE", "ZN", Cmd::ZNspace},     {"ZWRITE", "ZW", Cmd::ZWrite},
};

// $CHAR takes as many codes as a string has bytes: quoted texts put every run
// of control bytes into one call. The Z names with a standard twin are that
// twin: values here are bytes either way.
constexpr Name<FunctionInfo> kFunctions[] = {
    {"ASCII", "A", {Fn::Ascii, 1, 2, ArgForm::Values}},
    {"CHAR", "C", {Fn::Char, 1, 32767, ArgForm::Values}},
    {"DATA", "D", {Fn::Data, 1, 1, ArgForm::Reference}},
    {"EXTRACT", "E", {Fn::Extract, 1, 3, ArgForm::Values}},
    {"FIND", "F", {Fn::Find, 2, 3, ArgForm::Values}},
    {"FNUMBER", "FN", {Fn::FNumber, 2, 3, ArgForm::Values}},
    {"GET", "G", {Fn::Get, 1, 2, ArgForm::Reference}},
    {"INCREMENT", "I", {Fn::Increment, 1, 2, ArgForm::Reference}},
    {"JUSTIFY", "J", {Fn::Justify, 2, 3, ArgForm::Values}},
    {"LENGTH", "L", {Fn::Length, 1, 2, ArgForm::Values}},
    {"NAME", "NA", {Fn::Name, 1, 2, ArgForm::Reference}},
    {"NEXT", "N", {Fn::Next, 1, 1, ArgForm::Reference}},
    {"ORDER", "O", {Fn::Order, 1, 2, ArgForm::Reference}},
    {"PIECE", "P", {Fn::Piece, 2, 4, ArgForm::Values}},
    {"QLENGTH", "QL", {Fn::QLength, 1, 1, ArgForm::Values}},
    {"QSUBSCRIPT", "QS", {Fn::QSubscript, 2, 2, ArgForm::Values}},
    {"QUERY", "Q", {Fn::Query, 1, 2, ArgForm::Reference}},
    {"RANDOM", "R", {Fn::Random, 1, 1, ArgForm::Values}},
    {"REVERSE", "RE", {Fn::Reverse, 1, 1, ArgForm::Values}},
    {"SELECT", "S", {Fn::Select, 1, 1000, ArgForm::Select}},
    {"STACK", "ST", {Fn::Stack, 1, 2, ArgForm::Values}},
    {"TEXT", "T", {Fn::Text, 1, 1, ArgForm::Text}},
    {"TRANSLATE", "TR", {Fn::Translate, 2, 3, ArgForm::Values}},
    {"VIEW", "V", {Fn::View, 1, 4, ArgForm::Any}},
    {"ZUPPER", "ZU", {Fn::ZUpper, 1, 1, ArgForm::Values}},
    {"ZLOWER", "ZL", {Fn::ZLower, 1, 1, ArgForm::Values}},
    {"ZASCII", "ZASCII", {Fn::Ascii, 1, 2, ArgForm::Values}},
    {"ZCHAR", "ZCHAR", {Fn::Char, 1, 32767, ArgForm::Values}},
    {"ZEXTRACT", "ZEXTRACT", {Fn::Extract, 1, 3, ArgForm::Values}},
    {"ZFIND", "ZFIND", {Fn::Find, 2, 3, ArgForm::Values}},
    {"ZJUSTIFY", "ZJUSTIFY", {Fn::Justify, 2, 3, ArgForm::Values}},
    {"ZLENGTH", "ZLENGTH", {Fn::Length, 1, 2, ArgForm::Values}},
    {"ZPIECE", "ZPIECE", {Fn::Piece, 2, 4, ArgForm::Values}},
    {"ZTRANSLATE", "ZTRANSLATE", {Fn::Translate, 2, 3, ArgForm::Values}},
};

constexpr Name<Svn> kSpecials[] = {
    {"DEVICE", "D", Svn::Device},   {"ECODE", "EC", Svn::ECode},       {"ESTACK", "ES", Svn::EStack},
    {"ETRAP", "ET", Svn::ETrap},    {"HOROLOG", "H", Svn::Horolog},    {"IO", "I", Svn::Io},
    {"JOB", "J", Svn::Job},         {"KEY", "K", Svn::Key},            {"PRINCIPAL", "P", Svn::Principal},
    {"QUIT", "Q", Svn::Quit},       {"STACK", "ST", Svn::Stack},       {"STORAGE", "S", Svn::Storage},
    {"SYSTEM", "SY", Svn::System},  {"TEST", "T", Svn::Test},          {"TLEVEL", "TL", Svn::TLevel},
    {"TRESTART", "TR", Svn::TRestart}, {"X", "X", Svn::X},             {"Y", "Y", Svn::Y},
    {"ZEOF", "ZEOF", Svn::ZEof},    {"ZERROR", "ZE", Svn::ZError},    {"ZHOROLOG", "ZH", Svn::ZHorolog}, {"ZVERSION", "ZV", Svn::ZVersion},
};

constexpr Name<Ssvn> kStructured[] = {
    {"CHARACTER", "C", Ssvn::Character}, {"DEVICE", "D", Ssvn::Device}, {"GLOBAL", "G", Ssvn::Global},
    {"JOB", "J", Ssvn::Job},             {"LOCK", "L", Ssvn::Lock},     {"ROUTINE", "R", Ssvn::Routine},
    {"SYSTEM", "S", Ssvn::System},
};

// The value of the first row whose full name or abbreviation is word, in any
// case; a word starting with Z that no row names gives zOther.
template <typename Value, size_t N>
std::optional<Value> lookup(const Name<Value> (&table)[N], std::string_view word, Value zOther) {
  std::string name = upperCase(word);
  for (const auto& row : table)
    if (name == row.full || name == row.abbrev) return row.value;
  if (!name.empty() && name[0] == 'Z') return zOther;
  return std::nullopt;
}

}  // namespace

std::optional<Cmd> findCommand(std::string_view word) {
  std::string name = upperCase(word);
  // Z commands of this engine also answer to any longer prefix (ZWR).
  for (const auto& row : kCommands)
    if (row.full[0] == 'Z' && name.size() >= row.abbrev.size() && row.full.starts_with(name))
      return row.value;
  return lookup(kCommands, word, Cmd::ZOther);
}

bool commandNeedsArguments(Cmd cmd) {
  switch (cmd) {
    case Cmd::Set: case Cmd::Xecute: case Cmd::Hang: case Cmd::Merge: case Cmd::ZNspace:
    case Cmd::Goto: case Cmd::Job: case Cmd::Open: case Cmd::Use: case Cmd::Read:
    case Cmd::Close: case Cmd::View:
      return true;
    default:
      return false;
  }
}

std::optional<FunctionInfo> findFunction(std::string_view word) {
  return lookup(kFunctions, word, FunctionInfo{Fn::ZOther, 0, 1000, ArgForm::Any});
}

std::optional<Svn> findSpecial(std::string_view word) { return lookup(kSpecials, word, Svn::ZOther); }

std::optional<Ssvn> findStructured(std::string_view word) {
  return lookup(kStructured, word, Ssvn::ZOther);
}

}  // namespace mengine
