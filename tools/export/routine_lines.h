// M lines shared by the export tools.
#pragma once

#include <string>
#include <string_view>

namespace kvrexport {

// Writes every line of routine rn in global after node 0, in subscript
// order, each followed by a line feed; an empty line as a single blank, so
// that an empty line in the output always means the end of a routine.
inline std::string bodyLine(std::string_view global) {
  const std::string node = std::string(global) + "(rn,n)";
  return "s n=0 f  s n=$o(" + node + ") q:n=\"\"  s l=$g(" + node + ") w $s(l=\"\":\" \",1:l)_$c(10)";
}

}  // namespace kvrexport
