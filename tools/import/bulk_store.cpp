#include "bulk_store.h"

#include "routine_store.h"

namespace kvrimport {
namespace {

constexpr std::string_view kStage = "rbulk";

// The argumentless TSTART and TCOMMIT take two spaces before the next
// command; the part always goes on after the TCOMMIT (the staged part with
// its KILL, every store with the writing of the boundary), so the part
// brings the first of the two.
std::string transaction(std::string_view commands) { return "ts  " + std::string(commands) + " tc "; }

// Printable bytes that may join a routine's lines into one M string: none
// needs quoting, none is a digit or a letter.
constexpr std::string_view kJoiners = "~`{}|@#&<>[]!";

// Doubles the quotes of text, for an M string literal.
std::string doubledQuotes(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}

// The routine's replacement as one part with every line a SET of its own:
// line 1 names its node in full, the others by the naked reference ^(i),
// which stands for the same global and routine (nothing else in the part
// touches a global). Building stops once the part passed limit.
std::string linePart(std::string_view node, const std::vector<std::string>& literals,
                     const std::string& dateAndHeader, std::size_t limit) {
  std::string part = "k " + std::string(node) + ")";
  for (std::size_t i = 0; i < literals.size() && part.size() <= limit; ++i) {
    part += i == 0 ? " s " + std::string(node) + ",1)=" : ",^(" + std::to_string(i + 1) + ")=";
    part += literals[i];
  }
  return transaction(part + " " + dateAndHeader);
}

// The same with the lines joined into one string by a byte none of them
// holds and cut apart on the server: a line costs one byte more than its
// text instead of its own SET. The loop runs under XECUTE so that the
// commands after it are not part of its body. Nothing when every joiner
// occurs in the routine or the text cannot be quoted.
std::optional<std::string> joinedPart(std::string_view node, const std::vector<std::string>& lines,
                                      const std::string& dateAndHeader, const Quoter& quote) {
  if (lines.empty()) return std::nullopt;
  for (char joiner : kJoiners) {
    bool absent = true;
    for (const std::string& line : lines) absent = absent && line.find(joiner) == std::string::npos;
    if (!absent) continue;
    std::string text;
    for (const std::string& line : lines) (text += line) += joiner;
    text.pop_back();
    const std::optional<std::string> literal = quote(text);
    if (!literal) return std::nullopt;
    const std::string cut = "f rbi=1:1:" + std::to_string(lines.size()) + " s " + std::string(node) +
                            ",rbi)=$p(rbt,\"" + std::string(1, joiner) + "\",rbi)";
    return transaction("k " + std::string(node) + ") s rbt=" + *literal + " x \"" + doubledQuotes(cut) + "\" " +
                       dateAndHeader);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> bulkStoreParts(std::string_view node, const std::vector<std::string>& lines,
                                                       std::string_view dateValue, const Quoter& quote,
                                                       std::size_t limit) {
  const std::string top = std::string(node) + ")";
  const std::string dateAndHeader =
      "s " + std::string(node) + ",0)=" + std::string(dateValue) + "," + top + "=" + headerValue(lines);
  std::vector<std::string> literals;
  literals.reserve(lines.size());
  for (const std::string& line : lines) {
    std::optional<std::string> literal = quote(line);
    if (!literal) return std::nullopt;
    literals.push_back(std::move(*literal));
  }
  // One part: remove, lines, node 0, header, as the line-by-line store
  // orders them.
  std::optional<std::string> whole = joinedPart(node, lines, dateAndHeader, quote);
  if (!whole || whole->size() > limit) whole = linePart(node, literals, dateAndHeader, limit);
  if (whole && whole->size() <= limit) return std::vector<std::string>{std::move(*whole)};
  // Staged: rbulk(i) a line to a part, moved in by the last part.
  std::vector<std::string> parts{"k " + std::string(kStage)};
  parts.reserve(literals.size() + 2);
  for (std::size_t i = 0; i < literals.size(); ++i)
    parts.push_back("s " + std::string(kStage) + "(" + std::to_string(i + 1) + ")=" + literals[i]);
  parts.push_back(transaction("k " + top + " m " + top + "=" + std::string(kStage) + " " + dateAndHeader) + " k " +
                  std::string(kStage));
  for (const std::string& part : parts)
    if (part.size() > limit) return std::nullopt;
  return parts;
}

}  // namespace kvrimport
