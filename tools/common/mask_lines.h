// The M lines shared by the utilities that select routines by mask or take
// comma lists of file patterns. Sent exactly as written; the double blank
// after an argumentless "f" is M syntax. They work on the connection's local
// variables files, mask, m, e, p, g, rn, n and rtn.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kvrtools {

// Hands back each comma piece of the local files (set it first).
inline constexpr std::string_view kSplitFilesLine =
    R"(f n=1:1:$l(files,",") d wo^%srv($p(files,",",n)))";

// Rewrites each piece of the local mask to NAME.INT unless its extension is
// INT, MAC or INC in any case (then the piece stays as written).
inline constexpr std::string_view kNormaliseMaskLine =
    R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s e=$zupper($p(m,".",2)) i (e'="INT")&(e'="MAC")&(e'="INC") s e="INT" s $p(mask,",",n)=$p(m,".")_"."_e)";

// Records every routine the normalised mask selects in rtn(global,name).
inline constexpr std::string_view kSelectRoutinesLine =
    R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p s rtn(g,rn)="")";

// Hands back NAME.EXT for every routine the normalised mask selects, EXT as
// the mask piece has it (a name matched by two pieces comes twice).
inline constexpr std::string_view kListRoutinesLine =
    R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p d wo^%srv(rn_"."_$p(m,".",2)))";

// The three routine globals, in the order the utilities walk them.
inline constexpr std::array<std::string_view, 3> kRoutineGlobals = {"^ROUTINE", "^rMAC", "^rINC"};

// The line that hands back the names selected in rtn for one global.
std::string handBackLine(std::string_view global);

}  // namespace kvrtools
