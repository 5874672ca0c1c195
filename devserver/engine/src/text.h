// Operations on M strings shared by the parser, the functions and the
// server's own routines.
#pragma once

#include <string>
#include <string_view>

namespace mengine {

constexpr size_t kMaxString = 32767;

std::string upperCase(std::string_view s);
std::string lowerCase(std::string_view s);
// Characters from..to (1-based, inclusive) of s, clipped to s.
std::string extract(const std::string& s, long from, long to);
// Pieces from..to of s separated by delim; "" for an empty delimiter.
std::string piece(const std::string& s, const std::string& delim, long from, long to);
// The number of pieces of s separated by delim (0 for an empty delimiter).
long pieceCount(const std::string& s, const std::string& delim);
// SET $PIECE and SET $EXTRACT: old with pieces (characters) from..to replaced.
std::string replacePieces(const std::string& old, const std::string& delim, long from, long to,
                          const std::string& value);
std::string replaceCharacters(const std::string& old, long from, long to, const std::string& value);
// s with every quote doubled, between quotes: an M string literal.
std::string quoted(std::string_view s);

}  // namespace mengine
