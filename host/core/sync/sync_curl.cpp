#include "sync_curl.h"

#include <dlfcn.h>

#include <mutex>

namespace host {
namespace {

// The name Debian's libcurl4 package installs (the library's ABI since 7.16).
constexpr char kLibrary[] = "libcurl.so.4";

template <typename Function>
bool Find(void *library, const char *name, Function *function, std::string *why) {
    *function = reinterpret_cast<Function>(dlsym(library, name));
    if (*function == nullptr) *why = std::string(kLibrary) + " has no " + name;
    return *function != nullptr;
}

// All or nothing: the library stays loaded only when every function was found.
bool Load(CurlFunctions *curl, std::string *why) {
    void *library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *error = dlerror();
        *why = error != nullptr ? error : std::string("cannot load ") + kLibrary;
        return false;
    }
#define CEBRIDGE_FIND(function) Find(library, "curl_" #function, &curl->function, why)
    const bool found = CEBRIDGE_FIND(global_init) && CEBRIDGE_FIND(easy_init) && CEBRIDGE_FIND(easy_setopt) &&
                       CEBRIDGE_FIND(easy_perform) && CEBRIDGE_FIND(easy_getinfo) && CEBRIDGE_FIND(easy_reset) &&
                       CEBRIDGE_FIND(easy_cleanup) && CEBRIDGE_FIND(easy_strerror) && CEBRIDGE_FIND(free) &&
                       CEBRIDGE_FIND(slist_append) && CEBRIDGE_FIND(slist_free_all) && CEBRIDGE_FIND(url) &&
                       CEBRIDGE_FIND(url_set) && CEBRIDGE_FIND(url_get) && CEBRIDGE_FIND(url_cleanup);
#undef CEBRIDGE_FIND
    if (!found) {
        dlclose(library);
        return false;
    }
    if (curl->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        *why = std::string(kLibrary) + " could not set itself up";
        return false;  // kept loaded: its set-up may have started threads or handlers
    }
    return true;
}

}  // namespace

const CurlFunctions *Curl(std::string *why) {
    static std::once_flag once;
    static CurlFunctions functions{};
    static bool loaded = false;
    static std::string problem;
    std::call_once(once, [] { loaded = Load(&functions, &problem); });
    if (!loaded && why != nullptr) *why = problem;
    return loaded ? &functions : nullptr;
}

}  // namespace host
