#include "pattern.h"

#include <algorithm>
#include <vector>

#include "parser.h"

namespace mengine {
namespace {

// Works on sets of positions: from the positions where an atom may start, the
// positions where it may end. This keeps matching polynomial however the
// counts and alternations combine.
using Positions = std::vector<bool>;

bool codeMatches(unsigned codes, unsigned char c) {
  if ((codes & kPatE) != 0) return true;
  bool upper = c >= 'A' && c <= 'Z';
  bool lower = c >= 'a' && c <= 'z';
  bool digit = c >= '0' && c <= '9';
  bool control = c < 32 || c == 127;
  bool punct = !upper && !lower && !digit && !control && c < 128;
  return ((codes & kPatA) && (upper || lower)) || ((codes & kPatU) && upper) ||
         ((codes & kPatL) && lower) || ((codes & kPatN) && digit) ||
         ((codes & kPatC) && control) || ((codes & kPatP) && punct);
}

bool anyOf(const Positions& p) { return std::find(p.begin(), p.end(), true) != p.end(); }

Positions applyPattern(const Pattern& pattern, std::string_view s, Positions starts);

// One occurrence of a literal or an alternation.
Positions stepOnce(const PatAtom& atom, std::string_view s, const Positions& starts) {
  Positions ends(s.size() + 1, false);
  if (atom.kind == PatAtom::Kind::Literal) {
    for (size_t i = 0; i <= s.size(); ++i)
      if (starts[i] && s.substr(i, atom.literal.size()) == atom.literal)
        ends[i + atom.literal.size()] = true;
    return ends;
  }
  for (const Pattern& alt : atom.alternatives) {
    Positions e = applyPattern(alt, s, starts);
    for (size_t i = 0; i <= s.size(); ++i)
      if (e[i]) ends[i] = true;
  }
  return ends;
}

Positions applyCodes(const PatAtom& atom, std::string_view s, const Positions& starts) {
  size_t n = s.size();
  // run[i]: how many characters from i on match the codes.
  std::vector<size_t> run(n + 1, 0);
  for (size_t i = n; i-- > 0;)
    run[i] = codeMatches(atom.codes, static_cast<unsigned char>(s[i])) ? run[i + 1] + 1 : 0;
  std::vector<int> diff(n + 2, 0);
  size_t min = static_cast<size_t>(atom.min);
  for (size_t i = 0; i <= n; ++i) {
    if (!starts[i] || run[i] < min) continue;
    size_t most = atom.max < 0 ? run[i] : std::min(run[i], static_cast<size_t>(atom.max));
    diff[i + min] += 1;
    diff[i + most + 1] -= 1;
  }
  Positions ends(n + 1, false);
  int level = 0;
  for (size_t i = 0; i <= n; ++i) {
    level += diff[i];
    ends[i] = level > 0;
  }
  return ends;
}

Positions applyAtom(const PatAtom& atom, std::string_view s, const Positions& starts) {
  if (atom.kind == PatAtom::Kind::Codes) return applyCodes(atom, s, starts);
  Positions result(s.size() + 1, false);
  if (atom.min == 0) result = starts;
  Positions current = starts;
  // Every useful repetition either advances or repeats a position set seen
  // before, so more than min + length + 1 rounds can add nothing new.
  long limit = atom.max < 0 ? static_cast<long>(atom.min) + static_cast<long>(s.size()) + 1
                            : atom.max;
  for (long k = 1; k <= limit; ++k) {
    Positions next = stepOnce(atom, s, current);
    if (!anyOf(next)) break;
    if (k >= atom.min) {
      bool grew = false;
      for (size_t i = 0; i <= s.size(); ++i)
        if (next[i] && !result[i]) result[i] = grew = true;
      if (!grew && atom.max < 0 && next == current) break;
    }
    current = std::move(next);
  }
  return result;
}

Positions applyPattern(const Pattern& pattern, std::string_view s, Positions starts) {
  for (const PatAtom& atom : pattern.atoms) {
    starts = applyAtom(atom, s, starts);
    if (!anyOf(starts)) break;
  }
  return starts;
}

}  // namespace

bool matchPattern(const Pattern& pattern, std::string_view subject) {
  Positions starts(subject.size() + 1, false);
  starts[0] = true;
  return applyPattern(pattern, subject, starts)[subject.size()];
}

}  // namespace mengine
