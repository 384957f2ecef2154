// The RAPI operations as exported C functions. Each runs under the device lock,
// checks the link, counts the call for fault injection, and turns a DeviceError
// (or anything else thrown) into the operation's own failure result.
#include "ceemu_test_hooks.h"
#include "device.h"
#include "files.h"
#include "registry.h"
#include "stores.h"

#include <cstring>
#include <new>

#if defined(_WIN32)
#define CEEMU_EXPORT extern "C"
#else
#define CEEMU_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace ceemu {
namespace {

// How each kind of operation reports a failure with a device error, and whether a
// success clears the last error (operations with a meaningful last error on success,
// and the database server, set it themselves).
struct ReturnsBool {
    static constexpr bool kClearsError = true;
    static BOOL Failure(uint32_t error) {
        SetDeviceError(error);
        return FALSE;
    }
};
struct ReturnsHandle {
    static constexpr bool kClearsError = false;
    static HANDLE Failure(uint32_t error) {
        SetDeviceError(error);
        return INVALID_HANDLE_VALUE;
    }
};
struct ReturnsSize {
    static constexpr bool kClearsError = true;
    static DWORD Failure(uint32_t error) {
        SetDeviceError(error);
        return 0xFFFFFFFFu;
    }
};
struct ReturnsCode {  // registry operations return the error itself
    static constexpr bool kClearsError = true;
    static LONG Failure(uint32_t error) {
        SetDeviceError(error);
        return static_cast<LONG>(error);
    }
};
struct ReturnsHresult {
    static constexpr bool kClearsError = false;
    static HRESULT Failure(uint32_t error) {
        SetDeviceError(error);
        return CE_HRESULT_FROM_WIN32(error);
    }
};

bool ReachDevice(const char *operation, uint32_t *error) {
    if (LinkUp() && !InjectedFault(operation, error)) {
        SetLinkError(0);
        return true;
    }
    if (!LinkUp()) {
        SetLinkError(LinkDownError());
        *error = kErrorDeviceNotConnected;
    }
    return false;
}

template <typename Policy, typename Body>
auto DeviceCall(const char *operation, Body body) -> decltype(body()) {
    try {
        std::lock_guard guard(DeviceLock());
        uint32_t error = 0;
        if (!ReachDevice(operation, &error)) return Policy::Failure(error);
        auto result = body();
        if constexpr (Policy::kClearsError) SetDeviceError(CE_ERROR_SUCCESS);
        return result;
    } catch (const DeviceError &error) {
        return Policy::Failure(error.code);
    } catch (const std::bad_alloc &) {
        return Policy::Failure(kErrorOutOfMemory);
    } catch (...) {
        return Policy::Failure(kErrorInternal);
    }
}

// Operations that work without a link (closing, freeing, link control).
template <typename Policy, typename Body>
auto LocalCall(Body body) -> decltype(body()) {
    try {
        std::lock_guard guard(DeviceLock());
        return body();
    } catch (const DeviceError &error) {
        return Policy::Failure(error.code);
    } catch (...) {
        return Policy::Failure(kErrorInternal);
    }
}

}  // namespace
}  // namespace ceemu

using namespace ceemu;

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiInitEx(RAPIINIT *init) {
    return LocalCall<ReturnsHresult>([&] { return StartLink(init); });
}

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiUninit(void) {
    return LocalCall<ReturnsHresult>([&] {
        EndLink();
        return HRESULT{0};
    });
}

CEEMU_EXPORT DWORD RAPI_CALL CeGetLastError(void) { return DeviceErrorCode(); }

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiGetError(void) { return LinkError(); }

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiFreeBuffer(void *buffer) {
    return LocalCall<ReturnsHresult>([&] {
        if (buffer != nullptr && !FreeBuffer(buffer)) Fail(CE_ERROR_INVALID_PARAMETER);
        return HRESULT{0};
    });
}

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiInvoke(const WCHAR *dll, const WCHAR *function, DWORD cbInput, BYTE *pInput,
                                            DWORD *pcbOutput, BYTE **ppOutput, void *ppStream, DWORD reserved) {
    return DeviceCall<ReturnsHresult>("CeRapiInvoke", [&] {
        if (pcbOutput != nullptr) *pcbOutput = 0;
        if (ppOutput != nullptr) *ppOutput = nullptr;
        if (dll == nullptr || function == nullptr || (pInput == nullptr && cbInput > 0)) {
            Fail(CE_ERROR_INVALID_PARAMETER);
        }
        if (ppStream != nullptr) Fail(CE_ERROR_CALL_NOT_IMPLEMENTED);  // only the block form is served
        if (!NamesEqual(WideText(dll), u"Tobrann")) Fail(CE_ERROR_MOD_NOT_FOUND);
        return TobrannInvoke(WideText(function), cbInput, pInput, pcbOutput, ppOutput);
    });
}

CEEMU_EXPORT BOOL RAPI_CALL CeFindAllFiles(const WCHAR *pattern, DWORD flags, DWORD *count, CE_FIND_DATA **array) {
    return DeviceCall<ReturnsBool>("CeFindAllFiles", [&] { return FindAllItems(pattern, flags, count, array); });
}

CEEMU_EXPORT HANDLE RAPI_CALL CeFindFirstFile(const WCHAR *path, CE_FIND_DATA *data) {
    return DeviceCall<ReturnsHandle>("CeFindFirstFile", [&] { return FindFirstItem(path, data); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeFindClose(HANDLE find) {
    return LocalCall<ReturnsBool>([&] { return EndSearch(find); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeCreateDirectory(const WCHAR *path, void *security) {
    return DeviceCall<ReturnsBool>("CeCreateDirectory", [&] { return MakeFolder(path); });
}

CEEMU_EXPORT HANDLE RAPI_CALL CeCreateFile(const WCHAR *name, DWORD access, DWORD share, void *security, DWORD creation,
                                           DWORD flagsAndAttributes, HANDLE templateFile) {
    return DeviceCall<ReturnsHandle>("CeCreateFile",
                                     [&] { return OpenFileHandle(name, access, share, creation, flagsAndAttributes); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeReadFile(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped) {
    return DeviceCall<ReturnsBool>("CeReadFile", [&] { return ReadFromFile(file, buffer, toRead, read); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeWriteFile(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written,
                                        void *overlapped) {
    return DeviceCall<ReturnsBool>("CeWriteFile", [&] { return WriteToFile(file, buffer, toWrite, written); });
}

CEEMU_EXPORT DWORD RAPI_CALL CeGetFileSize(HANDLE file, DWORD *high) {
    return DeviceCall<ReturnsSize>("CeGetFileSize", [&] { return FileSize(file, high); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeCloseHandle(HANDLE handle) {
    return LocalCall<ReturnsBool>([&] { return CloseObject(handle); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeDeleteFile(const WCHAR *path) {
    return DeviceCall<ReturnsBool>("CeDeleteFile", [&] { return RemoveFile(path); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeCreateProcess(const WCHAR *image, const WCHAR *cmdline, void *processAttributes,
                                            void *threadAttributes, BOOL inherit, DWORD flags, void *environment,
                                            WCHAR *currentDirectory, void *startup, PROCESS_INFORMATION *info) {
    return DeviceCall<ReturnsBool>("CeCreateProcess", [&] { return LaunchProcess(image, cmdline, info); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeGetStoreInformation(STORE_INFORMATION *info) {
    return DeviceCall<ReturnsBool>("CeGetStoreInformation", [&] { return StoreInformation(info); });
}

CEEMU_EXPORT BOOL RAPI_CALL CeGetDiskFreeSpaceEx(const WCHAR *dir, ULARGE_INTEGER *freeToCaller, ULARGE_INTEGER *total,
                                                 ULARGE_INTEGER *totalFree) {
    return DeviceCall<ReturnsBool>("CeGetDiskFreeSpaceEx",
                                   [&] { return DiskFreeSpace(dir, freeToCaller, total, totalFree); });
}

CEEMU_EXPORT LONG RAPI_CALL CeRegOpenKeyEx(HKEY key, const WCHAR *subkey, DWORD options, REGSAM sam, HKEY *result) {
    return DeviceCall<ReturnsCode>("CeRegOpenKeyEx", [&] { return OpenKey(key, subkey, result); });
}

CEEMU_EXPORT LONG RAPI_CALL CeRegEnumKeyEx(HKEY key, DWORD index, WCHAR *name, DWORD *cchName, DWORD *reserved,
                                           WCHAR *cls, DWORD *cchClass, FILETIME *lastWrite) {
    return DeviceCall<ReturnsCode>("CeRegEnumKeyEx",
                                   [&] { return EnumerateKey(key, index, name, cchName, cls, cchClass, lastWrite); });
}

CEEMU_EXPORT LONG RAPI_CALL CeRegQueryValueEx(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type, BYTE *data,
                                              DWORD *cbData) {
    return DeviceCall<ReturnsCode>("CeRegQueryValueEx", [&] { return QueryValue(key, name, type, data, cbData); });
}

CEEMU_EXPORT LONG RAPI_CALL CeRegCloseKey(HKEY key) {
    return LocalCall<ReturnsCode>([&] { return CloseKey(key); });
}

// ---- test hooks (ceemu_test_hooks.h) ----------------------------------------------------

CEEMU_EXPORT int32_t CeEmuSetFaults(const char *faults) { return SetTestFaults(faults) ? 0 : -1; }

CEEMU_EXPORT void CeEmuTraceCalls(int32_t record) { TraceCalls(record != 0); }

CEEMU_EXPORT void CeEmuBringLinkUp(void) { BringLinkUp(); }

CEEMU_EXPORT uint32_t CeEmuReadTrace(char *names, uint32_t size) {
    const std::string text = TracedCalls();
    const uint32_t needed = static_cast<uint32_t>(text.size() + 1);
    if (names != nullptr && size >= needed) std::memcpy(names, text.c_str(), needed);
    return needed;
}
