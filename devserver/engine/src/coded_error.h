// An M error for which the standard names a code.
#pragma once

#include <string>
#include <utility>

#include "mengine/engine.h"

namespace mengine {

// $ECODE takes code ("M19") rather than the code derived from the error's
// name, which several standard errors share (<FUNCTION>, <COMMAND>).
class CodedError : public MError {
 public:
  CodedError(std::string code, const std::string& text) : MError(text), code_(std::move(code)) {}
  const std::string& code() const { return code_; }

 private:
  std::string code_;
};

}  // namespace mengine
