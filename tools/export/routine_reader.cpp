#include "routine_reader.h"

#include "binding.h"

namespace kvrexport {

void chooseRoutine(const std::string& name) { kvrtools::setVariable("rn", name); }

bool writeRoutineLines(const kvrtools::RoutineType& type, EmptyLine emptyLine, OutputStream& out) {
  const std::string node = std::string(type.global) + "(rn,n)";
  const std::string written = emptyLine == EmptyLine::kSingleBlank ? "$s(l=\"\":\" \",1:l)" : "l";
  return writeOutputOf("s n=0 f  s n=$o(" + node + ") q:n=\"\"  s l=$g(" + node + ") w " + written + "_$c(10)",
                       out);
}

bool writeOutputOf(std::string_view line, OutputStream& out) {
  kvrtools::setOutputHandler([&out](const std::string& piece) { out.write(piece); });
  const bool done = kvrtools::executeWithOutput(line);
  kvrtools::setOutputHandler(nullptr);
  return done;
}

std::optional<std::string> chosenRoutineDate(const kvrtools::RoutineType& type) {
  return kvrtools::evaluate("$g(" + std::string(type.global) + "(rn,0))");
}

}  // namespace kvrexport
