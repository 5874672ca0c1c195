#include "pattern.h"

#include <algorithm>
#include <map>
#include <vector>

#include "parser.h"

namespace mengine {
namespace {

// Matching works on sets of positions: from the positions where an atom may
// start, the positions where it may end. Sets are sorted vectors, and
// repetitions only follow newly reached positions, which keeps matching
// close to linear in the subject for the patterns in use and polynomial for
// any pattern.
using Positions = std::vector<size_t>;

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

Positions unite(const Positions& a, const Positions& b) {
  Positions out;
  out.reserve(a.size() + b.size());
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

class Matcher {
 public:
  explicit Matcher(std::string_view s) : s_(s) {}

  Positions pattern(const Pattern& pattern, Positions starts) {
    for (const PatAtom& atom : pattern.atoms) {
      starts = applyAtom(atom, starts);
      if (starts.empty()) break;
    }
    return starts;
  }

 private:
  // run[i]: how many characters from i on match the codes.
  const std::vector<size_t>& runs(unsigned codes) {
    auto it = runs_.find(codes);
    if (it != runs_.end()) return it->second;
    std::vector<size_t> run(s_.size() + 1, 0);
    for (size_t i = s_.size(); i-- > 0;)
      run[i] = codeMatches(codes, static_cast<unsigned char>(s_[i])) ? run[i + 1] + 1 : 0;
    return runs_.emplace(codes, std::move(run)).first->second;
  }

  Positions applyCodes(const PatAtom& atom, const Positions& starts) {
    const auto& run = runs(atom.codes);
    size_t min = static_cast<size_t>(atom.min);
    Positions out;
    size_t next = 0;  // the first position not yet emitted
    for (size_t start : starts) {
      if (run[start] < min) continue;
      size_t most = atom.max < 0 ? run[start] : std::min(run[start], static_cast<size_t>(atom.max));
      size_t from = std::max(start + min, next);
      for (size_t p = from; p <= start + most; ++p) out.push_back(p);
      next = std::max(next, start + most + 1);
    }
    return out;
  }

  // One occurrence of a literal or an alternation.
  Positions step(const PatAtom& atom, const Positions& starts) {
    if (atom.kind == PatAtom::Kind::Literal) {
      Positions ends;
      for (size_t p : starts)
        if (s_.substr(p, atom.literal.size()) == atom.literal) ends.push_back(p + atom.literal.size());
      return ends;
    }
    Positions ends;
    for (const Pattern& alt : atom.alternatives) ends = unite(ends, pattern(alt, starts));
    return ends;
  }

  Positions applyAtom(const PatAtom& atom, const Positions& starts) {
    if (atom.kind == PatAtom::Kind::Codes) return applyCodes(atom, starts);
    Positions current = starts;
    for (int k = 0; k < atom.min && !current.empty(); ++k) current = step(atom, current);
    if (atom.max == atom.min || current.empty()) return current;
    // Positions reachable with min to max occurrences; an unbounded count
    // follows only positions it has not reached before.
    std::vector<char> reached(s_.size() + 1, 0);
    Positions result = current;
    for (size_t p : current) reached[p] = 1;
    Positions frontier = current;
    long rounds = atom.max < 0 ? -1 : atom.max - atom.min;
    for (long k = 0; (rounds < 0 || k < rounds) && !frontier.empty(); ++k) {
      Positions next = step(atom, atom.max < 0 ? frontier : current);
      current = next;
      frontier.clear();
      for (size_t p : next) {
        if (!reached[p]) {
          reached[p] = 1;
          frontier.push_back(p);
          result.push_back(p);
        }
      }
      if (atom.max >= 0 && current.empty()) break;
    }
    std::sort(result.begin(), result.end());
    return result;
  }

  std::string_view s_;
  std::map<unsigned, std::vector<size_t>> runs_;
};

}  // namespace

bool matchPattern(const Pattern& pattern, std::string_view subject) {
  Matcher matcher(subject);
  Positions ends = matcher.pattern(pattern, Positions{0});
  return !ends.empty() && ends.back() == subject.size();
}

}  // namespace mengine
