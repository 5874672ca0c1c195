// Selecting routines by mask on the server: the mask set, normalised and
// walked by a selection line, and the values the line hands back collected.
// A mask is a comma list of NAME.EXT pieces with * and ?. The lines here are
// sent exactly as built; the double blank after an argumentless "f" is M
// syntax. They work on the connection's locals mask, m, e, p, g, rn, n and
// rtn.
#pragma once

#include <string>
#include <string_view>

#include "string_set.h"

namespace kvrtools {

// Rewrites each piece of the local mask to NAME.INT unless its extension is
// INT, MAC or INC in any case (then the piece stays as written).
inline constexpr std::string_view kNormaliseMaskLine =
    R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s e=$zupper($p(m,".",2)) i (e'="INT")&(e'="MAC")&(e'="INC") s e="INT" s $p(mask,",",n)=$p(m,".")_"."_e)";

// The line that runs action once for every routine the normalised mask
// selects: rn its name, g its global, m the mask piece that selected it (a
// name matched by two pieces comes twice).
std::string forEachSelectedLine(std::string_view action);

// The action that hands back NAME.EXT, EXT as the mask piece has it.
inline constexpr std::string_view kHandBackNameAction = R"(d wo^%srv(rn_"."_$p(m,".",2)))";

// The line that hands back the names recorded in rtn for one global.
std::string handBackLine(std::string_view global);

// Runs line; the non-empty values it handed back, in byte order.
StringSet valuesHandedBack(std::string_view line);

// Sets the local mask, normalises it and runs selectionLine; the non-empty
// values the line handed back, in byte order.
StringSet selectByMask(std::string_view mask, std::string_view selectionLine);

// Records every routine the mask selects in rtn(global,name), for
// recordedNames.
void recordSelection(std::string_view mask);

// The names recorded in rtn for global, in byte order.
StringSet recordedNames(std::string_view global);

}  // namespace kvrtools
