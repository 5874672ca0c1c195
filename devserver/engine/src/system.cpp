// The server's own routines that the utilities call by name. They are built
// in rather than stored in ^ROUTINE so that every database has them.
#include <fstream>

#include "interp.h"
#include "number.h"
#include "parser.h"

namespace mengine {
namespace {

std::string pieceOf(const std::string& s, char delim, size_t n) {
  size_t start = 0;
  for (size_t i = 1; i < n; ++i) {
    start = s.find(delim, start);
    if (start == std::string::npos) return "";
    ++start;
  }
  size_t end = s.find(delim, start);
  return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

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

void requireArgs(const std::vector<std::string>& args, size_t most) {
  if (args.size() > most) throw MError("<PARAMETER>");
}

}  // namespace

bool Job::Impl::callBuiltin(const std::string& routine, const std::string& label,
                            const std::vector<std::string>& args,
                            std::optional<std::string>& result) {
  static const char* kBuiltins[] = {"%srv", "%RSEL", "%R", "%RCOMPIL", "%INI", "%LOGIN"};
  bool builtin = false;
  for (const char* b : kBuiltins) builtin = builtin || routine == b;
  if (!builtin) return false;
  auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
  auto check = [&](const char* name, size_t most) {
    if (label != name) return false;
    requireArgs(args, most);
    return true;
  };
  if (routine == "%srv") {
    if (check("wo", 1)) {
      if (io) io->outputValue(arg(0));
      return true;
    }
    if (check("callback", 2)) {
      result = io ? io->callback(arg(0), arg(1)) : std::string();
      return true;
    }
    if (check("msg", 1)) {
      if (io) io->message(arg(0));
      return true;
    }
  } else if (routine == "%RSEL") {
    if (check("pat", 1)) {
      result = namePattern(arg(0));
      return true;
    }
    if (check("gloname", 1)) {
      std::string g = routineGlobal(pieceOf(arg(0), '.', 2));
      result = g.empty() ? "" : "^" + g;
      return true;
    }
  } else if (routine == "%R") {
    if (check("DATE", 1)) {
      std::string g = routineGlobal(pieceOf(arg(0), '.', 2));
      std::string name = pieceOf(arg(0), '.', 1);
      result = "";
      if (!g.empty() && !name.empty())
        result = server.impl().get(*db, g, {name, "0"}).value_or("");
      return true;
    }
  } else if (routine == "%RCOMPIL") {
    if (check("compile", 1)) {
      compile(arg(0));
      return true;
    }
  } else if (routine == "%INI") {
    if (check("ReadString", 3)) {
      result = readIni(arg(0), arg(1), arg(2)).value_or("");
      return true;
    }
  } else if (routine == "%LOGIN") {
    if (check("CHECK", 0)) {
      auto user = fetch(Target{false, "%username", {}}).value_or("");
      auto password = fetch(Target{false, "%password", {}}).value_or("");
      const std::string& dir = server.options().directory;
      std::optional<std::string> expected;
      if (!dir.empty() && !user.empty()) expected = readIni(dir + "kovra.ini", "Users", user);
      result = expected && *expected == password ? "1" : "0";
      return true;
    }
  }
  throw MError("<NOLINE> *" + label + "^" + routine);
}

void Job::Impl::compile(const std::string& nameWithType) {
  std::string name = pieceOf(nameWithType, '.', 1);
  std::string type = upperCase(pieceOf(nameWithType, '.', 2));
  auto& srv = server.impl();
  auto missing = [&](const std::string& what) { write("Routine " + what + " does not exist\n"); };
  if (name.empty() || (type != "INT" && type != "MAC")) {
    write("Cannot compile " + nameWithType + "\n");
    return;
  }
  if (type == "MAC") {
    if (srv.data(*db, "rMAC", {name}) == 0) return missing(name + ".MAC");
    srv.kill(*db, "ROUTINE", {name});
    srv.merge(*db, "ROUTINE", {name}, "rMAC", {name});
  }
  Node routine = srv.snapshot(*db, "ROUTINE", {name});
  if (routine.empty()) return missing(name + ".INT");
  size_t errors = 0;
  size_t lineNumber = 0;
  for (const auto& [sub, child] : routine.children) {
    if (sub == "0") continue;
    ++lineNumber;
    try {
      parseRoutineLine(child.value.value_or(""));
    } catch (const MError& e) {
      ++errors;
      write(name + "+" + std::to_string(lineNumber) + ": " + e.what() + "\n");
    }
  }
  if (errors == 0) srv.set(*db, "rOBJ", {name}, horolog());
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
