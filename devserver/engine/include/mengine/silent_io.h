// A job's I/O that goes nowhere: output and values are dropped, call-backs
// answer the empty text and messages are not waited on. For running M code
// whose effects alone count (replaying a journal, fuzzing, tests).
#pragma once

#include <string>
#include <string_view>

#include "mengine/engine.h"

namespace mengine {

class SilentIo final : public JobIo {
 public:
  void write(std::string_view) override {}
  void outputValue(std::string_view) override {}
  std::string callback(std::string_view, std::string_view) override { return {}; }
  void message(std::string_view) override {}
};

}  // namespace mengine
