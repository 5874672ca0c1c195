// M values are byte strings; arithmetic reads a string's numeric prefix and
// writes results back in canonical form (no leading "+", no leading zero
// before the point, no trailing zeros after it).
#pragma once

#include <string>
#include <string_view>

namespace mengine {

// The numeric interpretation of a string: signs, digits, an optional fraction
// and exponent; everything after the longest numeric prefix is ignored.
long double toNumber(std::string_view text);

// The canonical text of a number, exact for integers of up to 18 digits and
// rounded to 18 significant digits otherwise. Throws MError "<MAXNUMBER>" for
// values out of range.
std::string formatNumber(long double value);

// The canonical form of the numeric interpretation of text (M's unary +).
std::string canonicalNumber(std::string_view text);

// True when text is already a canonical number ("12", "-3.5", ".25", "0").
bool isCanonicalNumber(std::string_view text);

// The integer part of a value's numeric interpretation, clamped to +-1e9.
long toInteger(std::string_view text);

// The value rounded to a fixed number of decimals, with a 0 before the point
// ($JUSTIFY's third argument).
std::string fixedDecimals(std::string_view value, long decimals);
// $FNUMBER(value,codes[,decimals]): codes of + - , T P.
std::string fnumber(std::string_view value, std::string_view codes, const long* decimals);

// M truth: the numeric interpretation is not zero.
bool isTrue(std::string_view text);

// Compares two canonical numbers exactly: <0, 0, >0.
int compareCanonical(std::string_view a, std::string_view b);

}  // namespace mengine
