// Writing one plain source file (NAME.int, NAME.mac, NAME.inc) for kvrdbro,
// the same whether the routine is read one to a request or arrived in bulk:
// announced, staged, dated as its routine and put in place only when whole.
#pragma once

#include <functional>
#include <string>

#include "bulk_export.h"
#include "output_stream.h"

namespace kvrexport {

// Writes fileName with what fill writes, dated date. A file that cannot be
// opened stops the run (kStopRun); a symbolic link in its place, a fill that
// fails (it reports why) or a file that cannot be written to its end (a full
// disk) is reported and leaves the existing file as it was (kFailed).
ExportOutcome writeSourceFile(const std::string& fileName, const std::string& date,
                              const std::function<bool(OutputStream&)>& fill);

}  // namespace kvrexport
