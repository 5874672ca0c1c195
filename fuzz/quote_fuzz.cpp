// QuoteM against the M engine of kvrdevserver: evaluating the quoted text of
// any bytes must give those bytes back, and must never be an M error for a
// text that fits in an M string.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mengine/engine.h"
#include "mengine/silent_io.h"
#include "quote_m.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 8192) return 0;
  static mengine::Server server({});
  static mengine::Job job(server, 1);
  mengine::SilentIo io;
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  const std::string quoted = kovra::QuoteM(text);
  std::string back;
  try {
    back = job.evaluate(quoted, io);
  } catch (const mengine::MError& e) {
    std::fprintf(stderr, "M error %s\n", e.what());
    std::abort();
  }
  Check(back == text);
  return 0;
}
