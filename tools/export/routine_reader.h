// Reading routines from the server for the exporters: the one way a
// routine's text travels from the server into a file or standard output.
// A routine is read by name through the local rn; its lines arrive as
// terminal output and are written to the stream the call names, unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bulk_reader.h"
#include "output_stream.h"
#include "routine_types.h"

namespace kvrexport {

// How an empty routine line is written: the same rule for lines read one
// routine to a request and for those that arrived in bulk.
using kvrtools::EmptyLine;

// Names the routine the calls below read.
void chooseRoutine(const std::string& name);

// Writes the lines of the chosen routine of type to out, in node order, each
// followed by a line feed. False when the server rejected the line.
bool writeRoutineLines(const kvrtools::RoutineType& type, EmptyLine emptyLine, OutputStream& out);

// Runs line (an M line about the chosen routine) and writes its terminal
// output to out. False when the server rejected the line.
bool writeOutputOf(std::string_view line, OutputStream& out);

// The date in node 0 of the chosen routine of type; nothing when the server
// rejected the expression.
std::optional<std::string> chosenRoutineDate(const kvrtools::RoutineType& type);

}  // namespace kvrexport
