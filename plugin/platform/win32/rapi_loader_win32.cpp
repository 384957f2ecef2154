// Finding the RAPI provider on Windows: rapi.dll, operations by their undecorated names.
#include "platform/rapi_loader.h"

#include <windows.h>

#include <cstdlib>

namespace platform::rapi_loader {

void *OpenProvider(const char *path) { return reinterpret_cast<void *>(LoadLibraryA(path)); }

// rapi.dll is found the way Windows finds any library: the agent's folder, the system
// folders, then PATH. CEBRIDGE_RAPI is a testing aid, so that the emulated phone can
// answer without being renamed; an agent leaves it unset.
void *OpenDefaultProvider() {
    const char *named = std::getenv("CEBRIDGE_RAPI");
    if (named != nullptr && *named != '\0') return OpenProvider(named);
    return OpenProvider("rapi.dll");
}

void *FindOperation(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform::rapi_loader
