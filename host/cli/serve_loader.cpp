#if defined(CEBRIDGE_HAVE_SERVE)
#include "serve_loader.h"

#if defined(_WIN32)
#include <windows.h>

#include "encoding.h"
#else
#include <dlfcn.h>
#endif

namespace host {

#if defined(_WIN32)
ServeEntry LoadServeModule(const std::string &path, std::string *why) {
    // (only the module's own folder and the system's are searched for what it needs)
    HMODULE module = LoadLibraryExW(WideFromUtf8(path).c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const FARPROC entry = module ? GetProcAddress(module, "cebridge_serve") : nullptr;
    const auto serve = reinterpret_cast<ServeEntry>(reinterpret_cast<void (*)()>(entry));
    if (!serve) *why = path + ": error " + std::to_string(GetLastError());
    return serve;
}
#else
ServeEntry LoadServeModule(const std::string &path, std::string *why) {
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto serve = module ? reinterpret_cast<ServeEntry>(dlsym(module, "cebridge_serve")) : nullptr;
    if (!serve) {
        const char *reason = dlerror();
        *why = reason ? reason : path;
    }
    return serve;
}
#endif

}  // namespace host
#endif
