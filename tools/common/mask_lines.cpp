#include "mask_lines.h"

namespace kvrtools {

std::string handBackLine(std::string_view global) {
  std::string line = R"(s rn="" f  s rn=$o(rtn(")";
  line += global;
  line += R"(",rn)) q:rn=""  d wo^%srv(rn))";
  return line;
}

}  // namespace kvrtools
