#include "mask_selection.h"

#include "binding.h"

namespace kvrtools {

std::string forEachSelectedLine(std::string_view action) {
  std::string line =
      R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p )";
  line += action;
  return line;
}

std::string handBackLine(std::string_view global) {
  std::string line = R"(s rn="" f  s rn=$o(rtn(")";
  line += global;
  line += R"(",rn)) q:rn=""  d wo^%srv(rn))";
  return line;
}

StringSet valuesHandedBack(std::string_view line) {
  StringSet values;
  setGroupReadHandler(collectInto(values));
  execute(line);
  setGroupReadHandler(nullptr);
  return values;
}

StringSet selectByMask(std::string_view mask, std::string_view selectionLine) {
  setVariable("mask", mask);
  execute(kNormaliseMaskLine);
  return valuesHandedBack(selectionLine);
}

void recordSelection(std::string_view mask) { selectByMask(mask, forEachSelectedLine(R"(s rtn(g,rn)="")")); }

StringSet recordedNames(std::string_view global) { return valuesHandedBack(handBackLine(global)); }

}  // namespace kvrtools
