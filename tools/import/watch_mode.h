// kvrdbri -m watch: keeps the server in step with the files of a file list
// while they are edited. A -m changed pass over the list first; then every
// file of the list that is saved (written and closed, renamed into place,
// created) is imported and compiled through the same pass once its events
// have settled, so a save that leaves the text as the server has it imports
// nothing. The run ends on SIGINT or SIGTERM, after the routine in flight.
//
// Never a silent miss: when the kernel's event queue runs over, and when the
// connection comes back after it was lost, the whole list is passed again.
// Never a silent delete: a removed file is only reported, its routine stays
// on the server. Every message of a pass is a line of its own, written as it
// happens.
#pragma once

#include <functional>
#include <string>

#include "string_set.h"

namespace kvrimport {

// True when the run is to end before the next routine.
using StopCheck = std::function<bool()>;

// The -m changed pass of kvrdbri over paths (its messages and count line);
// the exit status it would end a run with.
using ChangedPass = std::function<int(const kvrtools::StringSet& paths, const StopCheck& stop)>;

// Watches the files of fileList (comma-separated patterns with * and ?)
// until a signal ends the run. Status 0, or 1 when an import failed during
// the run (or it ended while the server could not be reached), or -1 when
// the folders the patterns name cannot be watched.
int watchFiles(const std::string& fileList, const ChangedPass& pass);

}  // namespace kvrimport
