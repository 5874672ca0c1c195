// The service table that CreateTindraVM hands out.
#pragma once

#include "tindra_vm.h"

namespace tindra {

// Services of the one machine (CurrentMachine()); each fails with result 1
// while no machine exists.
const ZDLLCB& ServiceTable();

}  // namespace tindra
