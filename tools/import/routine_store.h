// Storing routines on the server: the one way a routine travels from an
// importer to the server. Per routine: the old routine removed, its lines
// from node 1, node 0 its timestamp (the server's $h when it has none), and
// the header "count,characters".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "routine_types.h"

namespace kvrimport {

struct RoutineText {
  std::string name;  // has passed the routine name check
  std::vector<std::string> lines;
  std::string timestamp;  // days,seconds, or empty
};

// How the lines sent name the routine's global.
enum class Addressing {
  // In every line (kvrdbri).
  kGlobalInEachLine,
  // Once, in the local rglobal, so every line is the same for every type
  // (the routine-set and GT.M importers).
  kGlobalInLocal,
};

// The M literal the routine's header node gets: "count,characters".
std::string headerValue(const std::vector<std::string>& lines);

// True when text is a routine timestamp: decimal days, a comma, decimal
// seconds, nothing else. Only such a text is put into an M line.
bool isRoutineTimestamp(std::string_view text);

// The M expression node 0 gets: the timestamp, or the server's $h when
// there is none.
std::string dateValue(const std::string& timestamp);

// Why routine cannot be stored under addressing, line by line or in bulk
// alike: the message for standard error (a line or name too long for one
// call), or nothing when it can.
std::optional<std::string> unsendableReason(Addressing addressing, const kvrtools::RoutineType& type,
                                            const RoutineText& routine);

// Replaces the routine of type named routine.name by routine, one request
// per line. Call only with a whole routine in hand, so a routine that cannot
// be read never leaves the old one deleted. A routine with a text that
// cannot be sent whole is skipped before anything is sent, with its
// unsendableReason on standard error: false. (-b on stores through
// packed_import.h.)
bool storeRoutine(Addressing addressing, const kvrtools::RoutineType& type, const RoutineText& routine);

}  // namespace kvrimport
