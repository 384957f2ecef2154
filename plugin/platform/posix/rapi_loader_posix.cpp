// Finding the RAPI provider on POSIX: $CEBRIDGE_RAPI, else libceemu.so beside the plug-in.
#include "platform/rapi_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace platform::rapi_loader {
namespace {

// The folder of the binary that holds this code (the plug-in, or a test program
// linking it statically), with its trailing '/'; "" when it cannot be told.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&OpenDefaultProvider), &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string file(info.dli_fname);
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

}  // namespace

void *OpenProvider(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void *OpenDefaultProvider() {
    const char *named = std::getenv("CEBRIDGE_RAPI");
    if (named != nullptr && *named != '\0') return OpenProvider(named);
    const std::string folder = OwnFolder();
    if (folder.empty()) return nullptr;
    return OpenProvider((folder + "libceemu.so").c_str());
}

void *FindOperation(void *library, const char *name) { return dlsym(library, name); }

}  // namespace platform::rapi_loader
