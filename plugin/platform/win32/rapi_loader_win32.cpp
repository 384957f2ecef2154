// Finding the RAPI provider on Windows: rapi.dll, operations by their undecorated names.
#include "platform/rapi_loader.h"

#include <windows.h>

namespace platform::rapi_loader {

void *OpenProvider(const char *path) { return reinterpret_cast<void *>(LoadLibraryA(path)); }

void *OpenDefaultProvider() { return OpenProvider("rapi.dll"); }

void *FindOperation(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform::rapi_loader
