// Broken stand-ins for ./libtindra.so: each is built from this file and some
// of the entry points beside it, so that each lacks what the loader checks.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t TindraBrokenStandIn() { return 0; }
