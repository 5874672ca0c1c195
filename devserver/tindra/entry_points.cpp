// The three exported entry points of libtindra.so.
#include <cstring>

#include "machine.h"
#include "services.h"

namespace {

// Device call-backs the machine uses until the caller installs its own: the
// machine has no terminal of its own, so output is dropped and input is
// empty (reads fail, as at end of file).
std::int32_t UseDevice(TINDRAVM*, const KOVRA_STR*) { return 0; }
std::int32_t ReadString(TINDRAVM*, KOVRA_STR* text, std::int32_t) {
  if (text != nullptr) text->len = 0;
  return 1;
}
std::int32_t ReadChar(TINDRAVM*, std::int32_t* code, std::int32_t) {
  if (code != nullptr) *code = -1;
  return 1;
}
std::int32_t DropValue(TINDRAVM*, const ZVALUE*) { return 0; }
std::int32_t DropCount(TINDRAVM*, std::int32_t) { return 0; }
std::int32_t DropNothing(TINDRAVM*) { return 0; }
std::int32_t NoPosition(TINDRAVM*) { return 0; }
std::int32_t EmptyKey(TINDRAVM*, KOVRA_STR* text) {
  if (text != nullptr) text->len = 0;
  return 0;
}
std::int32_t IgnoreKey(TINDRAVM*, const KOVRA_STR*) { return 0; }
std::int32_t AtEnd(TINDRAVM*) { return 1; }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void GetDefaultSettingsVM(TINDRAVM* settings) {
  if (settings == nullptr) return;
  std::memset(static_cast<void*>(settings), 0, sizeof *settings);
  settings->directory = "";
  settings->recordSize = sizeof(TINDRAVM);
  settings->jobNumber = 1;
  settings->maxText = 32767;
  settings->database = "%SYS";
  settings->devuse = UseDevice;
  settings->devreadstr = ReadString;
  settings->devreadchar = ReadChar;
  settings->devwritestr = DropValue;
  settings->devwritechar = DropCount;
  settings->devwritenl = DropNothing;
  settings->devwriteff = DropNothing;
  settings->devwritetab = DropCount;
  settings->devgetx = NoPosition;
  settings->devgety = NoPosition;
  settings->devsetx = DropCount;
  settings->devsety = DropCount;
  settings->devgetkey = EmptyKey;
  settings->devsetkey = IgnoreKey;
  settings->devzeof = AtEnd;
  settings->devgetza = EmptyKey;
  settings->devgetzb = EmptyKey;
}

__attribute__((visibility("default"))) std::int32_t CreateTindraVM(TINDRAVM* settings) {
  if (tindra::CurrentMachine() != nullptr) return 1;
  if (settings == nullptr || !tindra::Machine::SettingsError(*settings).empty()) return 2;
  try {
    tindra::SetCurrentMachine(std::make_unique<tindra::Machine>(*settings));
  } catch (...) {
    return 2;
  }
  settings->services = &tindra::ServiceTable();
  return 0;
}

__attribute__((visibility("default"))) void FreeTindraVM(void) {
  if (tindra::Machine* machine = tindra::CurrentMachine()) machine->Settings().services = nullptr;
  tindra::SetCurrentMachine(nullptr);
}

}  // extern "C"
