/* The binary interface between the connection library and the in-process
 * M virtual machine ./libtindra.so. One header for both sides: the library
 * fills and reads the records below, the machine (devserver/tindra) exports
 * the three entry points and implements the services.
 *
 * Conventions:
 *  1. Both records are packed; their sizes and the offsets the library relies
 *     on are checked at compile time below. Pointers are 8 bytes (x86-64).
 *  2. Every text is a KOVRA_STR record (kovrasc.h): the caller owns it; input
 *     records are only read, output records must be full records.
 *  3. Services return 0 on success. Any other result is a failure whose text
 *     (an M error such as "<UNDEFINED> *x") errstr_t copies out; it stays
 *     until the next service call.
 *  4. The machine is single-threaded: services and device call-backs run on
 *     the caller's thread; a device call-back runs inside the service that
 *     wrote the output and may call getstr_t and errstr_t, no other service.
 *     A device call-back that returns non-zero ends the running M code with
 *     the error "<WRITE>".
 *  5. At most one machine exists per process. CreateTindraVM returns 0 when
 *     the machine was created, 1 while one already exists, 2 when the
 *     settings are unusable. FreeTindraVM frees the machine (and does nothing
 *     without one).
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "kovrasc.h"

extern "C" {

struct TINDRAVM;

/* A machine value: the value's text (M values are texts; numbers are in
 * canonical form). The caller owns the area; services fill it whole. */
#pragma pack(push, 1)
typedef struct ZVALUE {
  KOVRA_STR text;
} ZVALUE;
#pragma pack(pop)

/* Services of the machine (the ZDLLCB table). A reference is a name (with
 * its leading ^ for a global: readglobal_t and friends take the name without
 * it) plus `count` subscript records in the array `subscripts` (null when
 * count is 0). */
typedef int32_t (*errstr_t)(KOVRA_STR* text);
typedef int32_t (*execute_t)(const KOVRA_STR* code);
typedef int32_t (*eval_t)(const KOVRA_STR* expression, ZVALUE* value);
typedef int32_t (*getdouble_t)(const ZVALUE* value, double* number);
typedef int32_t (*getint32_t)(const ZVALUE* value, int32_t* number);
typedef int32_t (*getint64_t)(const ZVALUE* value, int64_t* number);
typedef int32_t (*getstr_t)(const ZVALUE* value, KOVRA_STR* text);
typedef int32_t (*setdouble_t)(ZVALUE* value, double number);
typedef int32_t (*setint32_t)(ZVALUE* value, int32_t number);
typedef int32_t (*setint64_t)(ZVALUE* value, int64_t number);
/* $$entry(arguments...) into result; DO entry(arguments...). An entry is
 * label^routine, ^routine or label. */
typedef int32_t (*userfunc_t)(const KOVRA_STR* entry, int32_t count, const KOVRA_STR* arguments,
                              ZVALUE* result);
typedef int32_t (*userdo_t)(const KOVRA_STR* entry, int32_t count, const KOVRA_STR* arguments);
typedef int32_t (*readlocal_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                               ZVALUE* value);
typedef int32_t (*writelocal_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                const KOVRA_STR* value);
typedef int32_t (*readglobal_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                ZVALUE* value);
typedef int32_t (*writeglobal_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                 const KOVRA_STR* value);
typedef int32_t (*kill_local_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts);
typedef int32_t (*kill_global_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts);
/* Sets $TEST to 1 (value non-zero) or 0. */
typedef int32_t (*set_test_t)(int32_t value);
/* $ORDER of the reference in direction 1 or -1 into next. */
typedef int32_t (*order_local_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                 int32_t direction, ZVALUE* next);
typedef int32_t (*order_global_t)(const KOVRA_STR* name, int32_t count,
                                  const KOVRA_STR* subscripts, int32_t direction, ZVALUE* next);
/* $INCREMENT of the reference by the number in increment; the new value. */
typedef int32_t (*inc_local_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                               const KOVRA_STR* increment, ZVALUE* result);
typedef int32_t (*inc_global_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                const KOVRA_STR* increment, ZVALUE* result);
/* $DATA of the reference (0, 1, 10 or 11). */
typedef int32_t (*data_local_t)(const KOVRA_STR* name, int32_t count, const KOVRA_STR* subscripts,
                                int32_t* data);
typedef int32_t (*data_global_t)(const KOVRA_STR* name, int32_t count,
                                 const KOVRA_STR* subscripts, int32_t* data);

/* Device call-backs: the machine's terminal. The first argument is the
 * machine's settings record (the library ignores it); the result is 0.
 * The machine hands every output byte of WRITE to the writers: a CR LF pair
 * to dlldevwritenl_t, a form feed to dlldevwriteff_t, a run of n TAB bytes to
 * dlldevwritetab_t(n), any other byte below 32 to dlldevwritechar_t, and each
 * run of other bytes, like each value of wo^%srv, to dlldevwritestr_t. */
typedef int32_t (*dlldevuse_t)(TINDRAVM* vm, const KOVRA_STR* device);
typedef int32_t (*dlldevreadstr_t)(TINDRAVM* vm, KOVRA_STR* text, int32_t timeout);
typedef int32_t (*dlldevreadchar_t)(TINDRAVM* vm, int32_t* code, int32_t timeout);
typedef int32_t (*dlldevwritestr_t)(TINDRAVM* vm, const ZVALUE* value);
typedef int32_t (*dlldevwritechar_t)(TINDRAVM* vm, int32_t code);
typedef int32_t (*dlldevwritenl_t)(TINDRAVM* vm);
typedef int32_t (*dlldevwriteff_t)(TINDRAVM* vm);
typedef int32_t (*dlldevwritetab_t)(TINDRAVM* vm, int32_t count);
typedef int32_t (*dlldevgetx_t)(TINDRAVM* vm);  /* $X or $Y */
typedef int32_t (*dlldevsetx_t)(TINDRAVM* vm, int32_t position);
typedef int32_t (*dlldevgetkey_t)(TINDRAVM* vm, KOVRA_STR* text);  /* $KEY, $ZA, $ZB */
typedef int32_t (*dlldevsetkey_t)(TINDRAVM* vm, const KOVRA_STR* text);
typedef int32_t (*dlldevzeof_t)(TINDRAVM* vm);

#pragma pack(push, 1)
/* The machine's service table, filled by CreateTindraVM; valid until
 * FreeTindraVM. */
typedef struct ZDLLCB {
  errstr_t errstr;
  execute_t execute;
  eval_t eval;
  getdouble_t getdouble;
  getint32_t getint32;
  getint64_t getint64;
  getstr_t getstr;
  setdouble_t setdouble;
  setint32_t setint32;
  setint64_t setint64;
  userfunc_t userfunc;
  userdo_t userdo;
  readlocal_t readlocal;
  writelocal_t writelocal;
  readglobal_t readglobal;
  writeglobal_t writeglobal;
  kill_local_t kill_local;
  kill_global_t kill_global;
  set_test_t set_test;
  order_local_t order_local;
  order_global_t order_global;
  inc_local_t inc_local;
  inc_global_t inc_global;
  data_local_t data_local;
  data_global_t data_global;
} ZDLLCB;

/* The machine's settings. GetDefaultSettingsVM fills all of it; the caller
 * may then change fields and hands the record to CreateTindraVM, which copies
 * the texts and keeps the record's address (the device call-backs are taken
 * from it at each use). The record must stay in place until FreeTindraVM. */
typedef struct TINDRAVM {
  /* Directory of the machine with a trailing '/', where kovra.ini is read;
   * NUL-terminated. Empty (the default): no directory. */
  const char* directory;
  int32_t recordSize;   /* sizeof(TINDRAVM); any other value refuses creation */
  int32_t jobNumber;    /* $JOB of the machine's job; default 1, must be > 0 */
  int32_t reserved16;
  /* Longest text that getstr_t hands out, 1 to 32767 (the default); a longer
   * value fails with "<MAXSTRING>" instead of being cut. */
  int32_t maxText;
  int32_t reserved24;
  int32_t reserved28;
  int32_t reserved32;   /* kept as given; this machine does not use it */
  int32_t reserved36[5];
  /* Database the machine's job starts in, NUL-terminated; default "%SYS". */
  const char* database;
  int32_t reserved64;
  const ZDLLCB* services;  /* set by CreateTindraVM, cleared by FreeTindraVM */
  dlldevuse_t devuse;
  dlldevreadstr_t devreadstr;
  dlldevreadchar_t devreadchar;
  dlldevwritestr_t devwritestr;
  dlldevwritechar_t devwritechar;
  dlldevwritenl_t devwritenl;
  dlldevwriteff_t devwriteff;
  dlldevwritetab_t devwritetab;
  dlldevgetx_t devgetx;
  dlldevgetx_t devgety;
  dlldevsetx_t devsetx;
  dlldevsetx_t devsety;
  dlldevgetkey_t devgetkey;
  dlldevsetkey_t devsetkey;
  dlldevzeof_t devzeof;
  dlldevgetkey_t devgetza;
  dlldevgetkey_t devgetzb;
} TINDRAVM;
#pragma pack(pop)

/* The entry points of libtindra.so (resolved by these names). */
typedef void (*GetDefaultSettingsVM_t)(TINDRAVM* settings);
typedef int32_t (*CreateTindraVM_t)(TINDRAVM* settings);
typedef void (*FreeTindraVM_t)(void);

}  // extern "C"

static_assert(sizeof(ZVALUE) == sizeof(KOVRA_STR));
static_assert(sizeof(ZDLLCB) == 200);
static_assert(offsetof(ZDLLCB, execute) == 8);
static_assert(offsetof(ZDLLCB, eval) == 16);
static_assert(offsetof(ZDLLCB, getstr) == 48);
static_assert(offsetof(ZDLLCB, writelocal) == 104);
static_assert(sizeof(TINDRAVM) == 212);
static_assert(offsetof(TINDRAVM, directory) == 0);
static_assert(offsetof(TINDRAVM, jobNumber) == 12);
static_assert(offsetof(TINDRAVM, maxText) == 20);
static_assert(offsetof(TINDRAVM, reserved32) == 32);
static_assert(offsetof(TINDRAVM, reserved36) == 36);
static_assert(offsetof(TINDRAVM, database) == 56);
static_assert(offsetof(TINDRAVM, reserved64) == 64);
static_assert(offsetof(TINDRAVM, services) == 68);
static_assert(offsetof(TINDRAVM, devuse) == 76);
static_assert(offsetof(TINDRAVM, devwritestr) == 100);
static_assert(offsetof(TINDRAVM, devwritechar) == 108);
static_assert(offsetof(TINDRAVM, devwritenl) == 116);
static_assert(offsetof(TINDRAVM, devwriteff) == 124);
static_assert(offsetof(TINDRAVM, devwritetab) == 132);
static_assert(offsetof(TINDRAVM, devgetzb) == 204);
