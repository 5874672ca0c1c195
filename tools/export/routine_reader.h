// Reading routines from the server for the exporters: the one way a
// routine's text travels from the server into a file or standard output.
// A routine is read by name through the local rn; its lines arrive as
// terminal output and are written to the stream the call names, unchanged.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "routine_types.h"

namespace kvrexport {

// Names the routine the calls below read.
void chooseRoutine(const std::string& name);

// Writes the lines of the chosen routine of type to out, in node order, each
// followed by a line feed; an empty line as a single blank, so that an
// empty line in the output always means the end of a routine. False when
// the server rejected the line.
bool writeRoutineLines(const kvrtools::RoutineType& type, std::FILE* out);

// Runs line (an M line about the chosen routine) and writes its terminal
// output to out. False when the server rejected the line.
bool writeOutputOf(std::string_view line, std::FILE* out);

// The date in node 0 of the chosen routine of type; nothing when the server
// rejected the expression.
std::optional<std::string> chosenRoutineDate(const kvrtools::RoutineType& type);

}  // namespace kvrexport
