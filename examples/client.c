/*
 * client.c - a small program on libkovrasc: connects to a Kovra Server, runs
 * an M line with terminal output, sets and reads a variable, collects the
 * values a line hands back, and closes.
 *
 * Build and run against an installed library:
 *   cc client.c $(pkg-config --cflags --libs kovrasc) -o client
 *   LD_LIBRARY_PATH=$(pkg-config --variable=libdir kovrasc) ./client 127.0.0.1 5000 USER
 *
 * Exit status 0 when every call succeeded, 1 (with the library's error text
 * on standard error) when one failed, 2 for wrong arguments.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kovrasc.h>

/* Fills a record from a C string (texts longer than a record are cut). */
static void setText(KOVRA_STR *record, const char *text) {
  size_t length = strlen(text);
  if (length > KOVRA_STR_MAX) length = KOVRA_STR_MAX;
  record->len = (uint16_t)length;
  memcpy(record->str, text, length);
}

/* The records are large (32770 bytes), so they live in static storage. */
static KOVRA_STR code, name, value, result;

/* Terminal output of KVRExecuteOutput arrives here in pieces. */
static void onOutput(void *handle, KOVRA_STR *text) {
  (void)handle;
  fwrite(text->str, 1, text->len, stdout);
}

/* Values the server hands back during KVRExecute arrive here. */
static void onGroupRead(void *handle, KOVRA_STR *item) {
  (void)handle;
  printf("value: %.*s\n", (int)item->len, item->str);
}

static int fail(void *handle, const char *what) {
  KVRGetLastError(handle, &result);
  /* len bytes, not a C string: a server's reply quoted in the text may hold
     NUL bytes. */
  fprintf(stderr, "%s failed: ", what);
  fwrite(result.str, 1, result.len, stderr);
  fputc('\n', stderr);
  KVRDestroyConnect(handle);
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: client server port database\n");
    return 2;
  }
  void *handle = KVRCreateConnect(argv[1], atoi(argv[2]), argv[3]);
  if (!handle) return 1;
  if (!KVRConnectOpen(handle)) return fail(handle, "KVRConnectOpen");

  KVRSetOutput(handle, onOutput);
  setText(&code, "w \"Hello from the server: 6*7=\",6*7,!");
  if (!KVRExecuteOutput(handle, &code)) return fail(handle, "KVRExecuteOutput");

  setText(&name, "greeting");
  setText(&value, "Hello, \"world\"");
  if (!KVRWrite(handle, &name, &value)) return fail(handle, "KVRWrite");
  setText(&code, "$l(greeting)_\" bytes: \"_greeting");
  if (!KVRRead(handle, &code, &result)) return fail(handle, "KVRRead");
  printf("read: %.*s\n", (int)result.len, result.str);

  /* wo^%srv hands a value back to the client, one call per value. */
  KVRSetGroupRead(handle, onGroupRead);
  setText(&code, "f i=1:1:3 d wo^%srv(i*i)");
  if (!KVRExecute(handle, &code)) return fail(handle, "KVRExecute");

  if (!KVRConnectClose(handle)) return fail(handle, "KVRConnectClose");
  KVRDestroyConnect(handle);
  return 0;
}
