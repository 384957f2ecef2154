// The OS half of the RAPI loader: finding the provider library and its operations.
// Private to platform/; the common half (stand-ins, the table, first use) is in
// rapi_loader.cpp.
#ifndef CEBRIDGE_PLATFORM_RAPI_LOADER_H
#define CEBRIDGE_PLATFORM_RAPI_LOADER_H

namespace platform::rapi_loader {

// Loads the default provider: the library named by CEBRIDGE_RAPI (on Windows a
// testing aid), or else rapi.dll on Windows and libceemu.so in the folder of the
// plug-in on POSIX. Null when absent.
void *OpenDefaultProvider();
// Loads the library at `path`; null when it cannot be loaded.
void *OpenProvider(const char *path);
// The address of the exported operation `name` (undecorated); null when absent.
void *FindOperation(void *library, const char *name);

}  // namespace platform::rapi_loader

#endif  // CEBRIDGE_PLATFORM_RAPI_LOADER_H
