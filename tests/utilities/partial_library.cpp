// A library with every KVR name but KVRText: the utilities must refuse it
// before making any connection.
#include "kovrasc.h"

extern "C" {
void* KVRCreateConnect(const char*, int, const char*) { return nullptr; }
void KVRDestroyConnect(void*) {}
int KVRConnectOpen(void*) { return 0; }
int KVRConnectClose(void*) { return 0; }
void KVRGetLastError(void*, KOVRA_STR* error) { error->len = 0; }
int KVRRead(void*, KOVRA_STR*, KOVRA_STR*) { return 0; }
int KVRWrite(void*, KOVRA_STR*, KOVRA_STR*) { return 0; }
int KVRExecute(void*, KOVRA_STR*) { return 0; }
int KVRKill(void*, KOVRA_STR*) { return 0; }
int KVRExecuteOutput(void*, KOVRA_STR*) { return 0; }
void KVRSetOutput(void*, kvroutput_t) {}
void KVRSetGroupRead(void*, kvrgroupread_t) {}
void KVRSetCallback(void*, kvrcallback_t) {}
int KVRListGet(KOVRA_STR*, int, KOVRA_STR*) { return 0; }
int KVRListSet(KOVRA_STR*, int, KOVRA_STR*) { return 0; }
int KVRListLength(KOVRA_STR*) { return 0; }
}
