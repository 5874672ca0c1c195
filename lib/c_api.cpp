// The connection functions of the C interface. Placeholder bodies until the
// connection object lands; every name must exist so that programs can bind.
#include "kovrasc.h"

extern "C" {

void *KVRCreateConnect(const char *, int, const char *) { return nullptr; }
void KVRDestroyConnect(void *) {}
int KVRConnectOpen(void *) { return 0; }
int KVRConnectClose(void *) { return 0; }
void KVRGetLastError(void *, KOVRA_STR *error) {
  if (error) error->len = 0;
}
int KVRRead(void *, KOVRA_STR *, KOVRA_STR *) { return 0; }
int KVRWrite(void *, KOVRA_STR *, KOVRA_STR *) { return 0; }
int KVRExecute(void *, KOVRA_STR *) { return 0; }
int KVRKill(void *, KOVRA_STR *) { return 0; }
int KVRExecuteOutput(void *, KOVRA_STR *) { return 0; }
void KVRSetOutput(void *, kvroutput_t) {}
void KVRSetGroupRead(void *, kvrgroupread_t) {}
void KVRSetCallback(void *, kvrcallback_t) {}

}  // extern "C"
