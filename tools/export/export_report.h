// The messages the exporters share for what went wrong, each on standard
// error after standard output is flushed, so the two streams read in order.
#pragma once

#include <string>
#include <string_view>

namespace kvrexport {

// The mask selected no routine of a type the exporter writes: nothing was
// exported, which a script must not take for success.
void reportNothingSelected(std::string_view mask);

// path could not be written or put in place, for the reason errno error.
void reportWriteFailure(const std::string& path, int error);

// path could not be opened for writing; the run stops.
void reportOpenFailure(const std::string& path);

// Reports a StagedFile::create failure with errno error when it was the
// refusal of a symbolic link, which the run passes over (status 1) rather
// than treating as a file that cannot be opened. False, with nothing
// reported, for any other failure: the caller's own message is due.
bool reportRefusedTarget(const std::string& path, int error);

}  // namespace kvrexport
