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

// The bytes of joined lines a staged part carries, about.
constexpr std::size_t kChunk = 2048;

// The first joiner that no line holds.
std::optional<char> joinerFor(const std::vector<std::string>& lines) {
  for (char joiner : kJoiners) {
    bool absent = true;
    for (const std::string& line : lines) absent = absent && line.find(joiner) == std::string::npos;
    if (absent) return joiner;
  }
  return std::nullopt;
}

std::string joined(std::vector<std::string>::const_iterator first, std::vector<std::string>::const_iterator last,
                   char joiner) {
  std::string text;
  for (auto line = first; line != last; ++line) {
    if (line != first) text += joiner;
    text += *line;
  }
  return text;
}

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
  const std::optional<char> joiner = joinerFor(lines);
  if (lines.empty() || !joiner) return std::nullopt;
  const std::optional<std::string> literal = quote(joined(lines.begin(), lines.end(), *joiner));
  if (!literal) return std::nullopt;
  const std::string cut = "f rbi=1:1:" + std::to_string(lines.size()) + " s " + std::string(node) +
                          ",rbi)=$p(rbt,\"" + std::string(1, *joiner) + "\",rbi)";
  return transaction("k " + std::string(node) + ") s rbt=" + *literal + " x \"" + doubledQuotes(cut) + "\" " +
                     dateAndHeader);
}

std::string dateAndHeaderText(std::string_view node, const std::vector<std::string>& lines,
                              std::string_view dateValue) {
  return "s " + std::string(node) + ",0)=" + std::string(dateValue) + "," + std::string(node) + ")=" +
         headerValue(lines);
}

std::optional<std::vector<std::string>> lineLiterals(const std::vector<std::string>& lines, const Quoter& quote) {
  std::vector<std::string> literals;
  literals.reserve(lines.size());
  for (const std::string& line : lines) {
    std::optional<std::string> literal = quote(line);
    if (!literal) return std::nullopt;
    literals.push_back(std::move(*literal));
  }
  return literals;
}

// Staged: "k rbulk", then the lines into rbulk a chunk of joined lines to a
// part (a line to a part where no joiner is free or a chunk would not fit),
// then the part that moves rbulk in.
std::optional<std::vector<std::string>> stagedParts(std::string_view node, const std::vector<std::string>& lines,
                                                    const std::vector<std::string>& literals,
                                                    const std::string& dateAndHeader, const Quoter& quote,
                                                    std::size_t limit) {
  const std::string stage(kStage);
  const std::optional<char> joiner = joinerFor(lines);
  std::vector<std::string> parts{"k " + stage};
  for (std::size_t first = 0; first < lines.size();) {
    std::size_t end = first;
    for (std::size_t estimate = 0; end < lines.size() && (end == first || estimate + literals[end].size() < kChunk);
         ++end)
      estimate += literals[end].size() + 1;
    std::optional<std::string> chunk;
    if (joiner && end - first > 1) {
      const std::string cut = "f rbi=1:1:" + std::to_string(end - first) + " s " + stage + "(rbi+" +
                              std::to_string(first) + ")=$p(rbt,\"" + std::string(1, *joiner) + "\",rbi)";
      const std::optional<std::string> literal =
          quote(joined(lines.begin() + static_cast<std::ptrdiff_t>(first),
                       lines.begin() + static_cast<std::ptrdiff_t>(end), *joiner));
      if (literal) chunk = "s rbt=" + *literal + " x \"" + doubledQuotes(cut) + "\"";
    }
    if (chunk && chunk->size() <= limit) {
      parts.push_back(std::move(*chunk));
    } else {
      for (std::size_t i = first; i < end; ++i)
        parts.push_back("s " + stage + "(" + std::to_string(i + 1) + ")=" + literals[i]);
    }
    first = end;
  }
  const std::string top = std::string(node) + ")";
  parts.push_back(transaction("k " + top + " m " + top + "=" + stage + " " + dateAndHeader) + " k " + stage);
  for (const std::string& part : parts)
    if (part.size() > limit) return std::nullopt;
  return parts;
}

}  // namespace

std::optional<std::vector<std::string>> bulkStoreParts(std::string_view node, const std::vector<std::string>& lines,
                                                       std::string_view dateValue, const Quoter& quote,
                                                       std::size_t limit) {
  const std::string dateAndHeader = dateAndHeaderText(node, lines, dateValue);
  std::optional<std::vector<std::string>> literals = lineLiterals(lines, quote);
  if (!literals) return std::nullopt;
  // One part: remove, lines, node 0, header, as the line-by-line store
  // orders them.
  std::optional<std::string> whole = joinedPart(node, lines, dateAndHeader, quote);
  if (!whole || whole->size() > limit) whole = linePart(node, *literals, dateAndHeader, limit);
  if (whole && whole->size() <= limit) return std::vector<std::string>{std::move(*whole)};
  return stagedParts(node, lines, *literals, dateAndHeader, quote, limit);
}

std::optional<std::vector<std::string>> bulkStagedParts(std::string_view node, const std::vector<std::string>& lines,
                                                        std::string_view dateValue, const Quoter& quote,
                                                        std::size_t limit) {
  std::optional<std::vector<std::string>> literals = lineLiterals(lines, quote);
  if (!literals) return std::nullopt;
  return stagedParts(node, lines, *literals, dateAndHeaderText(node, lines, dateValue), quote, limit);
}

}  // namespace kvrimport
