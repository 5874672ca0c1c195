/*
 * kovrasc.h - the C interface of libkovrasc.so, the Kovra Server client library.
 *
 * Conventions of this interface:
 *  1. Every text crosses the boundary as a KOVRA_STR: a 16-bit length followed
 *     by up to 32768 bytes, no terminating NUL. Texts are opaque 8-bit byte
 *     strings (NUL included); nothing converts character sets.
 *  2. The caller owns every KOVRA_STR it passes: input records are only read
 *     (only `len` bytes of `str`), output records must be full, writable
 *     records of 32770 bytes. Records handed to call-backs belong to the
 *     library and live only for the duration of the call-back.
 *  3. Functions returning int return 1 for success and 0 for failure.
 *     KVRListLength returns a count instead.
 *  4. Every connection function accepts a null handle and then does nothing
 *     (returns 0, or sets error->len to 0 for KVRGetLastError). A null
 *     KOVRA_STR pointer where a record is needed makes the function return 0
 *     without sending anything and sets the last error "Missing argument:
 *     <name>." with the parameter's name below; KVRGetLastError with a null
 *     record does nothing; the list and text functions return 0. A null
 *     call-back is never missing: it switches the call-back off.
 *  5. A failure inside the library stores its message as the handle's last
 *     error; a success never clears it. KVRGetLastError copies it out.
 *  6. Call-backs run synchronously on the calling thread, inside the KVR call
 *     in progress on the same handle, and never at any other time.
 *  7. No exception or signal ever crosses this boundary. The library never
 *     ends the process and prints nothing, except one line on standard error
 *     when the trace file named by KOVRA_TRACE cannot be opened.
 *  8. Each call reads its command's replies to the end, so the next call
 *     sees only its own (the group-read call-back cannot stop a command
 *     early). A call that fails on the client's side (a server
 *     message it cannot read) first reads and drops the rest of its
 *     command; the server's call-backs meanwhile get the empty answer.
 *  9. Server replies quoted in an error text are raw, NUL bytes included:
 *     use len bytes of the record, never the record as a C string.
 * 10. With the environment variable KOVRA_TRACE naming a file when a
 *     connection opens, the connection appends a trace of its wire traffic
 *     to it (passwords shown as ***); see kovrasc(3).
 * 11. Threads: a handle is used by one thread at a time; different handles
 *     may be used by different threads at once, as they share nothing;
 *     call-backs run on the thread of the call that fires them. The library
 *     takes no locks on the connection path.
 */
#ifndef KOVRASC_H
#define KOVRASC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KOVRA_STR_MAX 32768

#pragma pack(push, 1)
typedef struct KOVRA_STR {
  uint16_t len;              /* number of valid bytes in str (little-endian) */
  char str[KOVRA_STR_MAX];   /* the text's bytes; bytes behind len are ignored */
} KOVRA_STR, *PKOVRA_STR;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(KOVRA_STR) == 32770, "KOVRA_STR must be packed to 32770 bytes");
#else
_Static_assert(sizeof(KOVRA_STR) == 32770, "KOVRA_STR must be packed to 32770 bytes");
#endif

/* Call-back types. The first argument is the handle of the calling connection. */
typedef void (*kvroutput_t)(void *handle, KOVRA_STR *text);
typedef void (*kvrgroupread_t)(void *handle, KOVRA_STR *value);
typedef void (*kvrcallback_t)(void *handle, KOVRA_STR *command, KOVRA_STR *result);

/* Function types of the list and text functions, for callers that bind by name. */
typedef int (*kvrlistget_t)(KOVRA_STR *list, int index, KOVRA_STR *item);
typedef int (*kvrlistset_t)(KOVRA_STR *list, int index, KOVRA_STR *value);
typedef int (*kvrlistlength_t)(KOVRA_STR *list);
typedef int (*kvrtext_t)(KOVRA_STR *text, KOVRA_STR *literal);

#if defined(__GNUC__)
#define KOVRASC_API __attribute__((visibility("default")))
#else
#define KOVRASC_API
#endif

/* Creates an inactive connection; copies both strings (null counts as empty).
 * Returns the handle, owned by the caller until KVRDestroyConnect. */
KOVRASC_API void *KVRCreateConnect(const char *server, int port, const char *nameSpace);
/* Closes an open connection and frees the handle; never fails. */
KOVRASC_API void KVRDestroyConnect(void *handle);
/* Connects, greets and selects the namespace with zn; 1 when open, else 0. */
KOVRASC_API int KVRConnectOpen(void *handle);
/* Closes the connection (an inactive one too); 1, or 0 on failure. */
KOVRASC_API int KVRConnectClose(void *handle);
/* Copies the last error text into the caller's record; the text stays stored. */
KOVRASC_API void KVRGetLastError(void *handle, KOVRA_STR *error);
/* Evaluates an M expression into value (untouched on failure); 1 or 0. */
KOVRASC_API int KVRRead(void *handle, KOVRA_STR *expression, KOVRA_STR *value);
/* Sets the M reference name to value; 1 or 0. */
KOVRASC_API int KVRWrite(void *handle, KOVRA_STR *name, KOVRA_STR *value);
/* Runs one line of M code; values reach the group-read call-back; 1 or 0. */
KOVRASC_API int KVRExecute(void *handle, KOVRA_STR *code);
/* Kills the M reference name; 1 or 0. */
KOVRASC_API int KVRKill(void *handle, KOVRA_STR *name);
/* Runs one line of M code; its terminal output reaches the output call-back
 * in pieces of at most 2048 bytes; 1 or 0. */
KOVRASC_API int KVRExecuteOutput(void *handle, KOVRA_STR *code);
/* Installs (or with null removes) the terminal output call-back. */
KOVRASC_API void KVRSetOutput(void *handle, kvroutput_t callback);
/* Installs (or with null removes) the group value call-back. */
KOVRASC_API void KVRSetGroupRead(void *handle, kvrgroupread_t callback);
/* Installs (or with null removes) the server call-back handler. */
KOVRASC_API void KVRSetCallback(void *handle, kvrcallback_t callback);

/* Writes element index (from 1) of the list as text into item; 1, or 0 on error. */
KOVRASC_API int KVRListGet(KOVRA_STR *list, int index, KOVRA_STR *item);
/* Sets element index (from 1) of the list in place; 1, or 0 (list unchanged). */
KOVRASC_API int KVRListSet(KOVRA_STR *list, int index, KOVRA_STR *value);
/* Returns the number of elements; 0 for an empty or malformed list. */
KOVRASC_API int KVRListLength(KOVRA_STR *list);
/* Writes the M expression whose value is text into literal; 1, or 0 (literal
 * unchanged) when the expression would not fit. */
KOVRASC_API int KVRText(KOVRA_STR *text, KOVRA_STR *literal);

#ifdef __cplusplus
}
#endif

#endif /* KOVRASC_H */
