// The RAPI table: every operation resolved by name from the provider on first use,
// with a stand-in that fails cleanly wherever the provider or an operation is missing.
#include "platform/platform.h"

#include <atomic>
#include <mutex>

#include "platform/rapi_loader.h"

namespace platform {
namespace {

// What the stand-ins report as the device error: the phone is not there.
constexpr DWORD kDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED

HRESULT RAPI_CALL StandInCeRapiInitEx(RAPIINIT *) { return CE_E_FAIL; }
HRESULT RAPI_CALL StandInCeRapiUninit() { return CE_E_FAIL; }
DWORD RAPI_CALL StandInCeGetLastError() { return kDeviceNotConnected; }
HRESULT RAPI_CALL StandInCeRapiGetError() { return CE_E_FAIL; }
HRESULT RAPI_CALL StandInCeRapiFreeBuffer(void *) { return CE_E_FAIL; }
HRESULT RAPI_CALL StandInCeRapiInvoke(const WCHAR *, const WCHAR *, DWORD, BYTE *, DWORD *pcbOutput, BYTE **ppOutput,
                                      void *, DWORD) {
    if (pcbOutput) *pcbOutput = 0;
    if (ppOutput) *ppOutput = nullptr;
    return CE_HRESULT_FROM_WIN32(kDeviceNotConnected);
}
BOOL RAPI_CALL StandInCeFindAllFiles(const WCHAR *, DWORD, DWORD *count, CE_FIND_DATA **array) {
    if (count) *count = 0;
    if (array) *array = nullptr;
    return FALSE;
}
HANDLE RAPI_CALL StandInCeFindFirstFile(const WCHAR *, CE_FIND_DATA *) { return INVALID_HANDLE_VALUE; }
BOOL RAPI_CALL StandInCeFindClose(HANDLE) { return FALSE; }
BOOL RAPI_CALL StandInCeCreateDirectory(const WCHAR *, void *) { return FALSE; }
HANDLE RAPI_CALL StandInCeCreateFile(const WCHAR *, DWORD, DWORD, void *, DWORD, DWORD, HANDLE) {
    return INVALID_HANDLE_VALUE;
}
BOOL RAPI_CALL StandInCeReadFile(HANDLE, void *, DWORD, DWORD *read, void *) {
    if (read) *read = 0;
    return FALSE;
}
BOOL RAPI_CALL StandInCeWriteFile(HANDLE, const void *, DWORD, DWORD *written, void *) {
    if (written) *written = 0;
    return FALSE;
}
DWORD RAPI_CALL StandInCeGetFileSize(HANDLE, DWORD *) { return 0xFFFFFFFFu; }
BOOL RAPI_CALL StandInCeCloseHandle(HANDLE) { return FALSE; }
BOOL RAPI_CALL StandInCeDeleteFile(const WCHAR *) { return FALSE; }
BOOL RAPI_CALL StandInCeCreateProcess(const WCHAR *, const WCHAR *, void *, void *, BOOL, DWORD, void *, WCHAR *,
                                      void *, PROCESS_INFORMATION *) {
    return FALSE;
}
BOOL RAPI_CALL StandInCeGetStoreInformation(STORE_INFORMATION *) { return FALSE; }
BOOL RAPI_CALL StandInCeGetDiskFreeSpaceEx(const WCHAR *, ULARGE_INTEGER *, ULARGE_INTEGER *, ULARGE_INTEGER *) {
    return FALSE;
}
LONG RAPI_CALL StandInCeRegOpenKeyEx(HKEY, const WCHAR *, DWORD, REGSAM, HKEY *result) {
    if (result) *result = nullptr;
    return static_cast<LONG>(kDeviceNotConnected);
}
LONG RAPI_CALL StandInCeRegEnumKeyEx(HKEY, DWORD, WCHAR *, DWORD *, DWORD *, WCHAR *, DWORD *, FILETIME *) {
    return static_cast<LONG>(kDeviceNotConnected);
}
LONG RAPI_CALL StandInCeRegQueryValueEx(HKEY, const WCHAR *, DWORD *, DWORD *, BYTE *, DWORD *) {
    return static_cast<LONG>(kDeviceNotConnected);
}
LONG RAPI_CALL StandInCeRegCloseKey(HKEY) { return static_cast<LONG>(kDeviceNotConnected); }

RapiTable StandInTable() {
    RapiTable table{};
#define CEBRIDGE_STAND_IN(name) table.name = &StandIn##name;
    CEBRIDGE_RAPI_OPERATIONS(CEBRIDGE_STAND_IN)
#undef CEBRIDGE_STAND_IN
    return table;
}

// Takes every operation the library has; the others keep their stand-ins.
RapiTable ResolveTable(void *library) {
    RapiTable table = StandInTable();
    if (library == nullptr) return table;
#define CEBRIDGE_RESOLVE(name)                                                         \
    if (void *found = rapi_loader::FindOperation(library, #name)) {                    \
        table.name = reinterpret_cast<PFN_##name>(reinterpret_cast<uintptr_t>(found)); \
    }
    CEBRIDGE_RAPI_OPERATIONS(CEBRIDGE_RESOLVE)
#undef CEBRIDGE_RESOLVE
    return table;
}

struct Provider {
    std::once_flag once;
    RapiTable table{};
    bool loaded = false;
    std::atomic<const RapiTable *> override{nullptr};
};

Provider &TheProvider() {
    static Provider provider;
    return provider;
}

void LoadOnce(Provider &provider) {
    std::call_once(provider.once, [&provider] {
        void *library = rapi_loader::OpenDefaultProvider();
        provider.loaded = library != nullptr;
        provider.table = ResolveTable(library);
    });
}

}  // namespace

const RapiTable &Rapi() {
    Provider &provider = TheProvider();
    if (const RapiTable *table = provider.override.load(std::memory_order_acquire)) return *table;
    LoadOnce(provider);
    return provider.table;
}

bool RapiProviderLoaded() {
    Provider &provider = TheProvider();
    LoadOnce(provider);
    return provider.loaded;
}

RapiTable LoadRapiTable(const char *path, bool *loaded) {
    void *library = path ? rapi_loader::OpenProvider(path) : nullptr;
    if (loaded) *loaded = library != nullptr;
    return ResolveTable(library);
}

void OverrideRapiForTests(const RapiTable *table) { TheProvider().override.store(table, std::memory_order_release); }

}  // namespace platform
