// The check every routine name that came from the server (or from a file)
// passes before a name is put into an M line or a file path: routine names
// are inserted unchanged, so a name must not be able to close the M string
// literal it sits in or leave the current directory. A routine that moves
// between the database and files must moreover be the one routine of its
// file name (see acceptRoutineName).
#pragma once

#include <string>
#include <string_view>

namespace kvrtools {

// False for the empty name and for a name holding a double quote, a byte
// below 32, the byte 127, "/" or "\".
bool isValidRoutineName(std::string_view name);

// The text with every byte below 32 and the byte 127 written as _$C(n)_, so
// that a name taken from a file or from the server can be shown without
// sending control sequences to the user's terminal.
std::string printableName(std::string_view text);

// The message for a refused name (shown printable), with a line feed, for
// standard error.
void reportInvalidRoutineName(std::string_view routine);

// True when name is valid and also names exactly one file and comes back
// from it unchanged: it does not begin with "_" (the file name of "%..."),
// holds no "^" (the piece delimiter of routine-set headers) and neither
// begins nor ends with a blank (trimmed away by editors and readers).
bool isTransferableRoutineName(std::string_view name);

// isTransferableRoutineName, reporting the name when it is refused: the
// check of every import and export.
bool acceptRoutineName(std::string_view name);

}  // namespace kvrtools
