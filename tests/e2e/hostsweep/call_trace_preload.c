/*
 * Preloaded into a spawned `cebridge` (LD_PRELOAD) by the host fault sweep: it loads
 * the emulator named by CEBRIDGE_RAPI before the plug-in does, so both share one
 * library, starts its call trace, and at exit writes the calls that reached the phone
 * to the file CEBRIDGE_CALL_TRACE names, one operation per line. The host itself is
 * left as it ships; only the trace run carries this library.
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

typedef void (*TraceCallsFn)(int32_t);
typedef uint32_t (*ReadTraceFn)(char *, uint32_t);

static void *g_emulator;

__attribute__((constructor)) static void StartTrace(void) {
    const char *rapi = getenv("CEBRIDGE_RAPI");
    if (rapi == NULL || getenv("CEBRIDGE_CALL_TRACE") == NULL) return;
    g_emulator = dlopen(rapi, RTLD_NOW | RTLD_LOCAL);
    TraceCallsFn trace = g_emulator ? (TraceCallsFn)dlsym(g_emulator, "CeEmuTraceCalls") : NULL;
    if (trace) trace(1);
}

__attribute__((destructor)) static void WriteTrace(void) {
    ReadTraceFn read = g_emulator ? (ReadTraceFn)dlsym(g_emulator, "CeEmuReadTrace") : NULL;
    FILE *out = read ? fopen(getenv("CEBRIDGE_CALL_TRACE"), "w") : NULL;
    if (out == NULL) return;
    uint32_t size = read(NULL, 0);
    char *names = malloc(size);
    if (names && read(names, size) <= size) fputs(names, out);
    free(names);
    fclose(out);
}
