#include "tindra_vm.h"

extern "C" __attribute__((visibility("default"))) void FreeTindraVM(void) {}
