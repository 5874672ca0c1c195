// Storing a routine in few requests (-b on): instead of one request per line,
// the lines travel as M string expressions inside SET commands. The M text
// that replaces a routine comes in parts, each of which travels whole inside
// one request; a request carries as many parts, of as many routines, as its
// call record holds (packed_import.h puts them together).
//
// A routine whose parts fit together in one request is replaced by one part:
// remove, lines, node 0, header, inside a transaction; its lines travel
// joined into one string by a byte none of them holds and are cut apart on
// the server. A longer one is staged in the connection's local rbulk, a few
// lines to a part, and moved into its global with MERGE by its last part,
// which also removes the old
// routine, sets node 0 and the header (inside a transaction) and kills
// rbulk. Until that last part runs the old routine is untouched, a lost
// connection takes rbulk with it, and a server that stops inside the
// transaction keeps none of it: the routine is old or new, never half.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding.h"

namespace kvrimport {

// The longest M line an execute request carries: the call record's size. A
// request is never longer: it would not be sent whole.
inline constexpr std::size_t kRequestLimit = kvrtools::kMaxCallText;

// Text -> the M expression whose value it is, or nothing when it cannot be
// quoted.
using Quoter = std::function<std::optional<std::string>(std::string_view)>;

// The parts that replace the routine whose node is node (^G("NAME" without
// its closing parenthesis), in order, each at most limit bytes. dateValue is
// the M expression node 0 gets. The last part ends in an argumentless
// command and a blank: the caller adds the next command. Nothing when a line
// cannot be quoted or its assignment cannot fit a part: such a routine goes
// line by line.
std::optional<std::vector<std::string>> bulkStoreParts(std::string_view node, const std::vector<std::string>& lines,
                                                       std::string_view dateValue, const Quoter& quote,
                                                       std::size_t limit = kRequestLimit);

// The staged parts of the same routine whatever its length, for a caller
// that fills the rest of a request with the start of a routine that does not
// fit there whole. Nothing as above.
std::optional<std::vector<std::string>> bulkStagedParts(std::string_view node, const std::vector<std::string>& lines,
                                                        std::string_view dateValue, const Quoter& quote,
                                                        std::size_t limit = kRequestLimit);

}  // namespace kvrimport
