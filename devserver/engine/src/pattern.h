// The ? operator: does the whole subject match the pattern?
#pragma once

#include <string_view>

#include "ast.h"

namespace mengine {

bool matchPattern(const Pattern& pattern, std::string_view subject);

}  // namespace mengine
