// Storing a routine in few requests (-b on): instead of one request per line,
// the lines travel as M string expressions inside SET commands, as many to an
// execute request as the call record holds.
//
// A routine that fits one request is replaced in it: remove, lines, node 0,
// header. A longer one is staged in the connection's local rbulk over
// several requests and moved into its global with MERGE in the last one,
// which also removes the old routine, sets node 0 and the header, and kills
// rbulk. Until that last request the old routine is untouched, and a lost
// connection takes rbulk with it: the routine is old or new, never half.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding.h"
#include "routine_store.h"

namespace kvrimport {

// The longest M line an execute request carries: the call record's size. A
// request is never longer: it would not be sent whole.
inline constexpr std::size_t kRequestLimit = kvrtools::kMaxCallText;

// Text -> the M expression whose value it is, or nothing when it cannot be
// quoted.
using Quoter = std::function<std::optional<std::string>(std::string_view)>;

// The execute requests that replace the routine whose node is node (^G("NAME"
// without its closing parenthesis): in order, each at most limit bytes.
// dateValue is the M expression node 0 gets. Nothing when a line's
// assignment cannot fit a request of its own: such a routine goes line by
// line.
std::optional<std::vector<std::string>> bulkStoreRequests(std::string_view node, const std::vector<std::string>& lines,
                                                          std::string_view dateValue, const Quoter& quote,
                                                          std::size_t limit = kRequestLimit);

// Stores routine at node (as above) in bulk; dateValue as above. Nothing,
// with nothing sent, when it cannot travel in bulk; true when it was stored;
// false when the server refused one of several requests (reported on
// standard error; the old routine stays as it was).
std::optional<bool> storeInBulk(std::string_view node, const RoutineText& routine, std::string_view dateValue);

}  // namespace kvrimport
