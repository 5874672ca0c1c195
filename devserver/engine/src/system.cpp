// The server's own routines that the utilities call by name. They are built
// in rather than stored in ^ROUTINE so that every database has them.
#include <fstream>

#include "interp.h"
#include "number.h"
#include "parser.h"
#include "text.h"

namespace mengine {
namespace {

// The n-th dot piece of "name.type".
std::string dotPiece(const std::string& s, long n) { return piece(s, ".", n, n); }

// The global that holds routines of a type: INT, MAC or INC.
std::string routineGlobal(const std::string& type) {
  std::string t = upperCase(type);
  if (t == "INT") return "ROUTINE";
  if (t == "MAC") return "rMAC";
  if (t == "INC") return "rINC";
  return "";
}

// A routine name mask with * and ? as an M pattern: runs of other characters
// become quoted literals.
std::string namePattern(const std::string& mask) {
  std::string out;
  std::string literal;
  auto flush = [&] {
    if (literal.empty()) return;
    out += "1\"";
    for (char c : literal) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
    literal.clear();
  };
  for (char c : mask) {
    if (c == '*') {
      flush();
      out += ".E";
    } else if (c == '?') {
      flush();
      out += "1E";
    } else {
      literal += c;
    }
  }
  flush();
  // An empty mask matches the empty name only, that is no routine.
  return out.empty() ? "1\"\"" : out;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

using Args = std::vector<std::string>;
using Result = std::optional<std::string>;

std::string arg(const Args& args, size_t i) { return i < args.size() ? args[i] : std::string(); }

void outputValue(Job::Impl& job, const Args& args, Result&) {
  if (job.io) job.io->outputValue(arg(args, 0));
}

void callback(Job::Impl& job, const Args& args, Result& result) {
  result = job.io ? job.io->callback(arg(args, 0), arg(args, 1)) : std::string();
}

void message(Job::Impl& job, const Args& args, Result&) {
  if (job.io) job.io->message(arg(args, 0));
}

void maskPattern(Job::Impl&, const Args& args, Result& result) { result = namePattern(arg(args, 0)); }

void globalOfType(Job::Impl&, const Args& args, Result& result) {
  std::string g = routineGlobal(dotPiece(arg(args, 0), 2));
  result = g.empty() ? "" : "^" + g;
}

void routineDate(Job::Impl& job, const Args& args, Result& result) {
  std::string g = routineGlobal(dotPiece(arg(args, 0), 2));
  std::string name = dotPiece(arg(args, 0), 1);
  result = "";
  if (!g.empty() && !name.empty())
    result = job.server.impl().get(*job.db, g, {name, "0"}).value_or("");
}

void compileRoutine(Job::Impl& job, const Args& args, Result&) { job.compile(arg(args, 0)); }

void readIniString(Job::Impl& job, const Args& args, Result& result) {
  result = job.readIni(arg(args, 0), arg(args, 1), arg(args, 2)).value_or("");
}

void checkLogin(Job::Impl& job, const Args&, Result& result) {
  auto user = job.fetch(localTarget("%username")).value_or("");
  auto password = job.fetch(localTarget("%password")).value_or("");
  const std::string& dir = job.server.options().directory;
  std::optional<std::string> expected;
  if (!dir.empty() && !user.empty()) expected = job.readIni(dir + "kovra.ini", "Users", user);
  result = expected && *expected == password ? "1" : "0";
}

struct Builtin {
  std::string_view routine;
  std::string_view label;
  size_t arity;  // the most actual parameters it takes
  void (*handler)(Job::Impl&, const Args&, Result&);
};

constexpr Builtin kBuiltins[] = {
    {"%srv", "wo", 1, outputValue},
    {"%srv", "callback", 2, callback},
    {"%srv", "msg", 1, message},
    {"%RSEL", "pat", 1, maskPattern},
    {"%RSEL", "gloname", 1, globalOfType},
    {"%R", "DATE", 1, routineDate},
    {"%RCOMPIL", "compile", 1, compileRoutine},
    {"%INI", "ReadString", 3, readIniString},
    {"%LOGIN", "CHECK", 0, checkLogin},
};

}  // namespace

bool Job::Impl::callBuiltin(const std::string& routine, const std::string& label,
                            const std::vector<std::string>& args,
                            std::optional<std::string>& result) {
  bool known = false;
  for (const Builtin& b : kBuiltins) {
    if (b.routine != routine) continue;
    known = true;
    if (b.label != label) continue;
    if (args.size() > b.arity) throw MError("<PARAMETER>");
    b.handler(*this, args, result);
    return true;
  }
  if (!known) return false;
  throw MError("<NOLINE> *" + label + "^" + routine);
}

std::optional<std::string> Job::Impl::readIni(const std::string& file, const std::string& section,
                                              const std::string& key) const {
  // Only files directly in the server directory are read: the file name
  // comes from the client.
  const std::string& dir = server.options().directory;
  if (dir.empty() || file.size() <= dir.size() || file.compare(0, dir.size(), dir) != 0 ||
      file.find('/', dir.size()) != std::string::npos || file.find('\0') != std::string::npos)
    return std::nullopt;
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string line;
  bool inSection = false;
  std::string wantSection = upperCase(section);
  std::string wantKey = upperCase(key);
  while (std::getline(in, line)) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      inSection = close != std::string::npos && upperCase(trim(t.substr(1, close - 1))) == wantSection;
      continue;
    }
    if (!inSection) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    if (upperCase(trim(t.substr(0, eq))) == wantKey) return trim(t.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace mengine
