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
  // orders them. Line 1 names its node in full; the others by the naked
  // reference ^(i), which stands for the same global and routine (nothing
  // else in the part touches a global), so a line costs a few bytes more
  // than its literal, not the routine's whole node.
  std::string whole = "k " + top;
  for (std::size_t i = 0; i < literals.size() && whole.size() <= limit; ++i) {
    if (i == 0) {
      whole += " s " + std::string(node) + ",1)=";
    } else {
      whole += ",^(" + std::to_string(i + 1) + ")=";
    }
    whole += literals[i];
  }
  whole += " " + dateAndHeader;
  whole = transaction(whole);
  if (whole.size() <= limit) return std::vector<std::string>{std::move(whole)};
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
