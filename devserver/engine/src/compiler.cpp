// compile^%RCOMPIL: every line of a routine is parsed; each line that does
// not parse is reported with its offset and error, then the line and a caret
// under the column where parsing stopped, and a count ends the report.
#include "interp.h"
#include "parser.h"

namespace mengine {
namespace {

// The line as shown, and a line that puts a caret under column: tabs are
// kept so that the caret lines up however the terminal shows them.
std::string caretLines(std::string text, size_t column) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
  column = std::min(column, text.size());
  std::string marker;
  for (size_t i = 0; i < column; ++i) marker += text[i] == '\t' ? '\t' : ' ';
  return text + "\n" + marker + "^\n";
}

}  // namespace

void Job::Impl::compile(const std::string& nameWithType) {
  std::string name = piece(nameWithType, ".", 1, 1);
  std::string type = upperCase(piece(nameWithType, ".", 2, 2));
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
  std::vector<std::string> lines;
  for (const auto& [sub, child] : routine.children)
    if (sub != "0") lines.push_back(child.value.value_or(""));
  size_t errors = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& text = lines[i];
    try {
      parseRoutineLine(text, true);
    } catch (const MError& e) {
      ++errors;
      auto* parse = dynamic_cast<const ParseError*>(&e);
      write(lineOffset(lines, i) + ": " + e.what() + "\n" +
            caretLines(text, parse ? parse->column() : text.size()));
    }
  }
  if (errors == 0) {
    srv.set(*db, "rOBJ", {name}, horolog());
    return;
  }
  write(std::to_string(errors) + (errors == 1 ? " error" : " errors") + " in " + name + "\n");
}

}  // namespace mengine
