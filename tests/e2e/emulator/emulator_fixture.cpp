#include "emulator_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <poll.h>
#endif

namespace ceemu_test {

void *EmulatorSymbol(const char *name) {
#if defined(_WIN32)
    static HMODULE library = LoadLibraryA(CEBRIDGE_TEST_EMULATOR);
    return library ? reinterpret_cast<void *>(GetProcAddress(library, name)) : nullptr;
#else
    static void *library = dlopen(CEBRIDGE_TEST_EMULATOR, RTLD_NOW | RTLD_LOCAL);
    return library ? dlsym(library, name) : nullptr;
#endif
}

namespace {

EmulatorApi LoadEmulator() {
    EmulatorApi api;
#define CEEMU_TEST_RESOLVE(name) api.name = reinterpret_cast<PFN_##name>(EmulatorSymbol(#name));
    CEBRIDGE_RAPI_OPERATIONS(CEEMU_TEST_RESOLVE)
#undef CEEMU_TEST_RESOLVE
    return api;
}

bool Complete(const EmulatorApi &api) {
    bool complete = true;
#define CEEMU_TEST_CHECK(name) complete = complete && api.name != nullptr;
    CEBRIDGE_RAPI_OPERATIONS(CEEMU_TEST_CHECK)
#undef CEEMU_TEST_CHECK
    return complete;
}

}  // namespace

const EmulatorApi &Emulator() {
    static const EmulatorApi api = LoadEmulator();
    if (!Complete(api)) ADD_FAILURE() << "cannot load every RAPI operation from " << CEBRIDGE_TEST_EMULATOR;
    return api;
}

bool LinkSignalled(HANDLE handle, int timeoutMs) {
#if defined(_WIN32)
    return WaitForSingleObject(handle, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
#else
    pollfd descriptor{static_cast<int>(reinterpret_cast<intptr_t>(handle)), POLLIN, 0};
    return poll(&descriptor, 1, timeoutMs) == 1 && (descriptor.revents & POLLIN);
#endif
}

std::basic_string<WCHAR> Wide(const std::u16string &text) { return std::basic_string<WCHAR>(text.begin(), text.end()); }

RAPIINIT EmulatorTest::Connect() {
    RAPIINIT init{};
    init.cbSize = sizeof init;
    EXPECT_EQ(api.CeRapiInitEx(&init), 0);
    EXPECT_TRUE(LinkSignalled(init.heRapiInit, 5000));
    return init;
}

HANDLE EmulatorTest::Open(const std::u16string &path, DWORD creation, DWORD access) {
    return api.CeCreateFile(Wide(path).c_str(), access, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool EmulatorTest::PutFile(const std::u16string &path, const std::string &bytes, DWORD creation) {
    HANDLE file = Open(path, creation);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = api.CeWriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    return api.CeCloseHandle(file) && ok;
}

std::string EmulatorTest::GetFile(const std::u16string &path) {
    HANDLE file = Open(path, OPEN_EXISTING, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return "<cannot open>";
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (api.CeReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    api.CeCloseHandle(file);
    return bytes;
}

void EmulatorTest::AddFault(const std::string &operation, uint32_t nth, bool persistent, uint32_t error) {
    phone.EditDevice([&](nlohmann::json &device) {
        device["faults"].push_back(
            {{"operation", operation}, {"nth", nth}, {"persistent", persistent}, {"error", error}});
    });
}

}  // namespace ceemu_test
