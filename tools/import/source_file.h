// Reading routine source files for the importers: the one way a routine's
// text travels from a local file into memory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "local_files.h"

namespace kvrimport {

// Every line of the file at path, read as bytes (readTextLine), empty lines
// included: editors and other systems leave them inside routines. Nothing,
// with the reason on standard error naming the file, when path is not a
// regular file (a named pipe is never waited on), cannot be opened or read to
// its end, holds a NUL byte (it is not routine text: a UTF-16 file, say) or a
// line longer than a routine line can be (kMaxTextLine). Such a file is
// refused whole: a part of it, or a line split in two, would be other code.
std::optional<std::vector<std::string>> readSourceFile(const std::string& path);

// readSourceFile without the message: the lines, or the message for
// standard error in refusal; for a caller that shows it later, in its turn.
struct SourceText {
  std::optional<std::vector<std::string>> lines;
  std::string refusal;
};
SourceText loadSourceFile(const std::string& path);

}  // namespace kvrimport
