#include "routine_reader.h"

#include "binding.h"

namespace kvrexport {

void chooseRoutine(const std::string& name) { kvrtools::setVariable("rn", name); }

bool writeRoutineLines(const kvrtools::RoutineType& type, std::FILE* out) {
  const std::string node = std::string(type.global) + "(rn,n)";
  return writeOutputOf("s n=0 f  s n=$o(" + node + ") q:n=\"\"  s l=$g(" + node + ") w $s(l=\"\":\" \",1:l)_$c(10)",
                       out);
}

bool writeOutputOf(std::string_view line, std::FILE* out) {
  kvrtools::setOutputHandler([out](const std::string& piece) { std::fwrite(piece.data(), 1, piece.size(), out); });
  const bool done = kvrtools::executeWithOutput(line);
  kvrtools::setOutputHandler(nullptr);
  return done;
}

std::optional<std::string> chosenRoutineDate(const kvrtools::RoutineType& type) {
  return kvrtools::evaluate("$g(" + std::string(type.global) + "(rn,0))");
}

}  // namespace kvrexport
