// QuoteM: the text of an M expression whose value is exactly the given bytes.
// Printable bytes (everything from 32 up, 127 and 128-255 included) go into
// string literals with the double quote doubled; bytes below 32 come from
// $C(...), consecutive ones sharing one call; the pieces are joined with _.
// The empty text gives "" (two double quotes). Pure, no length limit.
#pragma once

#include <string>
#include <string_view>

namespace kovra {

std::string QuoteM(std::string_view text);

}  // namespace kovra
