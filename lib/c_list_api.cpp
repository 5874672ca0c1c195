// The list and text functions of the C interface. Placeholder bodies until
// the list codec lands; every name must exist so that programs can bind.
#include "kovrasc.h"

extern "C" {

int KVRListGet(KOVRA_STR *, int, KOVRA_STR *) { return 0; }
int KVRListSet(KOVRA_STR *, int, KOVRA_STR *) { return 0; }
int KVRListLength(KOVRA_STR *) { return 0; }
int KVRText(KOVRA_STR *, KOVRA_STR *) { return 0; }

}  // extern "C"
