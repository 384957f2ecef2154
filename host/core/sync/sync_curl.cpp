#include "sync_curl.h"

#include <dlfcn.h>

#include <mutex>

namespace host {
namespace {

// The name Debian's libcurl4 package installs (the library's ABI since 7.16).
constexpr char kLibrary[] = "libcurl.so.4";

// What a PC without a usable libcurl is told (it cannot reach a server).
Outcome NoCurl(const std::string &why) { return PcFailure(why); }

template <typename Function>
Outcome Find(void *library, const char *name, Function *function) {
    *function = reinterpret_cast<Function>(dlsym(library, name));
    return *function ? Outcome::Ok() : NoCurl(std::string(kLibrary) + " has no " + name);
}

// All or nothing: the library stays loaded only when every function was found.
Outcome Load(CurlFunctions *curl) {
    void *library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *error = dlerror();
        return NoCurl(error != nullptr ? error : std::string("cannot load ") + kLibrary);
    }
    Outcome found = Outcome::Ok();
#define CEBRIDGE_FIND(function) \
    if (found.ok) found = Find(library, "curl_" #function, &curl->function)
    CEBRIDGE_FIND(global_init);
    CEBRIDGE_FIND(easy_init);
    CEBRIDGE_FIND(easy_setopt);
    CEBRIDGE_FIND(easy_perform);
    CEBRIDGE_FIND(easy_getinfo);
    CEBRIDGE_FIND(easy_reset);
    CEBRIDGE_FIND(easy_cleanup);
    CEBRIDGE_FIND(easy_strerror);
    CEBRIDGE_FIND(free);
    CEBRIDGE_FIND(slist_append);
    CEBRIDGE_FIND(slist_free_all);
    CEBRIDGE_FIND(url);
    CEBRIDGE_FIND(url_set);
    CEBRIDGE_FIND(url_get);
    CEBRIDGE_FIND(url_cleanup);
#undef CEBRIDGE_FIND
    if (!found.ok) {
        dlclose(library);
        return found;
    }
    // (kept loaded after a failed set-up: it may have started threads or handlers)
    if (curl->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return NoCurl(std::string(kLibrary) + " could not set itself up");
    return Outcome::Ok();
}

struct LoadedCurl {
    CurlFunctions functions{};
    Outcome loaded;
};

const LoadedCurl &Loaded() {
    static std::once_flag once;
    static LoadedCurl curl;
    std::call_once(once, [] { curl.loaded = Load(&curl.functions); });
    return curl;
}

}  // namespace

Outcome CurlLoaded() { return Loaded().loaded; }

const CurlFunctions *Curl() { return Loaded().loaded.ok ? &Loaded().functions : nullptr; }

}  // namespace host
