// Routine dates (days,seconds) the way the server sees them: the update
// modes of kvrdbri and kvrdbro ask the server for a routine's date and for
// the difference of two dates rather than converting dates locally.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "routine_types.h"

namespace kvrtools {

// The value of the leading decimal integer of text, with an optional sign;
// no digits give 0. Huge values are clamped to 2^60 so they never overflow.
std::int64_t leadingInteger(std::string_view text);

// Sets the server variables d1 and d2 to the two dates and returns the
// server's d1 minus d2 (days times 100000 plus seconds), so a positive result
// means d1 is later.
std::int64_t dateDifference(std::string_view d1, std::string_view d2);

// The date the server holds for routine of type (empty without one).
std::string routineDate(std::string_view routine, const RoutineType& type);

}  // namespace kvrtools
