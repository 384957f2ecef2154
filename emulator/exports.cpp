// The RAPI operations as exported C functions. (Skeleton: every operation refuses.)
#include "device.h"

#if defined(_WIN32)
#define CEEMU_EXPORT extern "C"
#else
#define CEEMU_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace ceemu {
namespace {
thread_local uint32_t t_deviceError = 0;
}
void SetDeviceError(uint32_t code) { t_deviceError = code; }
bool LinkUp() { return false; }
}  // namespace ceemu

using namespace ceemu;

#define CEEMU_NOT_YET(result)                                  \
    SetDeviceError(CE_ERROR_CALL_NOT_IMPLEMENTED);             \
    return result

CEEMU_EXPORT HRESULT RAPI_CALL CeRapiInitEx(RAPIINIT *init) { CEEMU_NOT_YET(CE_E_FAIL); }
CEEMU_EXPORT HRESULT RAPI_CALL CeRapiUninit(void) { return 0; }
CEEMU_EXPORT DWORD RAPI_CALL CeGetLastError(void) { return t_deviceError; }
CEEMU_EXPORT HRESULT RAPI_CALL CeRapiGetError(void) { return CE_E_FAIL; }
CEEMU_EXPORT HRESULT RAPI_CALL CeRapiFreeBuffer(void *buffer) {
    std::free(buffer);
    return 0;
}
CEEMU_EXPORT HRESULT RAPI_CALL CeRapiInvoke(const WCHAR *dll, const WCHAR *function, DWORD cbInput, BYTE *pInput,
                                            DWORD *pcbOutput, BYTE **ppOutput, void *ppStream, DWORD reserved) {
    CEEMU_NOT_YET(CE_E_FAIL);
}
CEEMU_EXPORT BOOL RAPI_CALL CeFindAllFiles(const WCHAR *pattern, DWORD flags, DWORD *count, CE_FIND_DATA **array) {
    CEEMU_NOT_YET(FALSE);
}
CEEMU_EXPORT HANDLE RAPI_CALL CeFindFirstFile(const WCHAR *path, CE_FIND_DATA *data) {
    CEEMU_NOT_YET(INVALID_HANDLE_VALUE);
}
CEEMU_EXPORT BOOL RAPI_CALL CeFindClose(HANDLE find) { CEEMU_NOT_YET(FALSE); }
CEEMU_EXPORT BOOL RAPI_CALL CeCreateDirectory(const WCHAR *path, void *security) { CEEMU_NOT_YET(FALSE); }
CEEMU_EXPORT HANDLE RAPI_CALL CeCreateFile(const WCHAR *name, DWORD access, DWORD share, void *security,
                                           DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile) {
    CEEMU_NOT_YET(INVALID_HANDLE_VALUE);
}
CEEMU_EXPORT BOOL RAPI_CALL CeReadFile(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped) {
    CEEMU_NOT_YET(FALSE);
}
CEEMU_EXPORT BOOL RAPI_CALL CeWriteFile(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written,
                                        void *overlapped) {
    CEEMU_NOT_YET(FALSE);
}
CEEMU_EXPORT DWORD RAPI_CALL CeGetFileSize(HANDLE file, DWORD *high) { CEEMU_NOT_YET(0xFFFFFFFFu); }
CEEMU_EXPORT BOOL RAPI_CALL CeCloseHandle(HANDLE handle) { CEEMU_NOT_YET(FALSE); }
CEEMU_EXPORT BOOL RAPI_CALL CeDeleteFile(const WCHAR *path) { CEEMU_NOT_YET(FALSE); }
CEEMU_EXPORT BOOL RAPI_CALL CeCreateProcess(const WCHAR *image, const WCHAR *cmdline, void *processAttributes,
                                            void *threadAttributes, BOOL inherit, DWORD flags, void *environment,
                                            WCHAR *currentDirectory, void *startup, PROCESS_INFORMATION *info) {
    CEEMU_NOT_YET(FALSE);
}
CEEMU_EXPORT BOOL RAPI_CALL CeGetStoreInformation(STORE_INFORMATION *info) { CEEMU_NOT_YET(FALSE); }
CEEMU_EXPORT BOOL RAPI_CALL CeGetDiskFreeSpaceEx(const WCHAR *dir, ULARGE_INTEGER *freeToCaller,
                                                 ULARGE_INTEGER *total, ULARGE_INTEGER *totalFree) {
    CEEMU_NOT_YET(FALSE);
}
CEEMU_EXPORT LONG RAPI_CALL CeRegOpenKeyEx(HKEY key, const WCHAR *subkey, DWORD options, REGSAM sam, HKEY *result) {
    return CE_ERROR_CALL_NOT_IMPLEMENTED;
}
CEEMU_EXPORT LONG RAPI_CALL CeRegEnumKeyEx(HKEY key, DWORD index, WCHAR *name, DWORD *cchName, DWORD *reserved,
                                           WCHAR *cls, DWORD *cchClass, FILETIME *lastWrite) {
    return CE_ERROR_CALL_NOT_IMPLEMENTED;
}
CEEMU_EXPORT LONG RAPI_CALL CeRegQueryValueEx(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type, BYTE *data,
                                              DWORD *cbData) {
    return CE_ERROR_CALL_NOT_IMPLEMENTED;
}
CEEMU_EXPORT LONG RAPI_CALL CeRegCloseKey(HKEY key) { return CE_ERROR_CALL_NOT_IMPLEMENTED; }
