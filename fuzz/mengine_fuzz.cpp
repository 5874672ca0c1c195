// The M engine's parser and executor on arbitrary lines: every line parses
// or raises an M error, and a line that parses runs to its end or to an M
// error, never to a crash. Lines that can loop or wait without bound (FOR,
// GOTO, DO, XECUTE, JOB, HANG, LOCK, READ, BREAK, TRESTART, extrinsic calls,
// indirection that may name any of those) are parsed but not run: the engine
// has no step budget of its own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mengine/engine.h"
#include "mengine/silent_io.h"
#include "parser.h"

namespace {

template <typename Parse>
bool Parses(Parse parse) {
  try {
    parse();
    return true;
  } catch (const mengine::MError&) {
    return false;
  }
}

bool MayRunUnbounded(const mengine::Line& line, std::string_view text) {
  using mengine::Cmd;
  static constexpr Cmd kUnbounded[] = {Cmd::For,  Cmd::Goto, Cmd::Do,   Cmd::Xecute, Cmd::Job,
                                       Cmd::Hang, Cmd::Halt, Cmd::Lock, Cmd::Read,   Cmd::Break,
                                       Cmd::TRestart};
  for (const mengine::Command& command : line.commands) {
    for (Cmd cmd : kUnbounded) {
      if (command.cmd == cmd) return true;
    }
  }
  return text.find("$$") != std::string_view::npos || text.find('@') != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  Parses([&] { mengine::parseRoutineLine(text); });
  Parses([&] { mengine::parseExpression(text); });
  Parses([&] { mengine::parsePattern(text); });
  Parses([&] { mengine::parseReference(text); });
  Parses([&] { mengine::parseSetArguments(text); });
  Parses([&] { mengine::parseMergeArguments(text); });
  Parses([&] { mengine::parseWriteArguments(text); });
  Parses([&] { mengine::parseEntryRef(text); });
  Parses([&] { mengine::parseDoArguments(text); });

  std::shared_ptr<const mengine::Line> line;
  if (!Parses([&] { line = mengine::parseCommandLine(text); })) return 0;
  if (MayRunUnbounded(*line, text)) return 0;
  mengine::Server server({});
  mengine::Job job(server, 1);
  mengine::SilentIo io;
  try {
    job.execute(text, io);
  } catch (const mengine::MError&) {
    // An M error is a proper answer.
  }
  return 0;
}
