/*
 * The emulated phone's test hooks: exported beside the RAPI operations for tests
 * only (neither the plug-in nor the host calls them). They steer the fault
 * injection of docs/device-image.md at run time and record which calls a request
 * makes. Tests resolve them by name from the same library the plug-in loaded, so
 * both see one phone; e.g. decltype(&CeEmuSetFaults) is the pointer type.
 */
#ifndef CEEMU_TEST_HOOKS_H
#define CEEMU_TEST_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the "faults" list of device.json with `faults`, a JSON array as text
 * (entries as in device.json), until the next call; NULL gives the list back to
 * device.json. A new CeRapiInitEx keeps it. Restarts the call counters, so "nth"
 * counts from this call on. Returns 0, or -1 (nothing changed) for text that is not
 * a JSON array. */
int32_t CeEmuSetFaults(const char *faults);

/* Nonzero: empties the call trace and records, from now on, the operation name of
 * every call that reaches the phone (the names "faults" entries use, in call
 * order). Zero: stops recording and empties the trace. */
void CeEmuTraceCalls(int32_t record);

/* Copies the recorded names, each followed by '\n', then a terminating NUL, into
 * `names` when `size` bytes hold them all; returns the bytes needed, terminator
 * included. */
uint32_t CeEmuReadTrace(char *names, uint32_t size);

/* Brings up now every link attempt still pending, "link.neverUp" ones included: a
 * test holds the plug-in's worker in its link wait for as long as it needs, then
 * lets it go. */
void CeEmuBringLinkUp(void);

#ifdef __cplusplus
}
#endif

#endif /* CEEMU_TEST_HOOKS_H */
