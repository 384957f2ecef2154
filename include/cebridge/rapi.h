/*
 * The phone's Remote API (RAPI) as cebridge declares it: types, structures,
 * constants and one function pointer type per operation. The plug-in resolves the
 * operations by name from its provider (rapi.dll on Windows; $CEBRIDGE_RAPI or
 * libceemu.so on POSIX); the emulated phone exports them with these signatures.
 */
#ifndef CEBRIDGE_RAPI_H
#define CEBRIDGE_RAPI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define RAPI_CALL __stdcall
#else
#define RAPI_CALL

#ifdef __cplusplus
typedef char16_t WCHAR; /* UTF-16LE, never wchar_t */
#else
typedef uint16_t WCHAR;
#endif
typedef int32_t BOOL;
typedef int32_t LONG;
typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint32_t REGSAM;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef void *HANDLE;
typedef void *HKEY;

typedef struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    uint64_t QuadPart;
} ULARGE_INTEGER;

typedef struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define MAX_PATH 260

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_TEMPORARY 0x100u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define REG_SZ 1u
#define REG_DWORD 4u
#endif /* _WIN32 */

/* Literal wide text in the platform's WCHAR. */
#if defined(_WIN32)
#define CE_TEXT(s) L##s
#else
#define CE_TEXT(s) u##s
#endif

#define CE_MAX_PATH 260

/* Device error codes that callers and the emulator agree on. */
#define CE_ERROR_SUCCESS 0u
#define CE_ERROR_FILE_NOT_FOUND 2u
#define CE_ERROR_PATH_NOT_FOUND 3u
#define CE_ERROR_ACCESS_DENIED 5u
#define CE_ERROR_INVALID_HANDLE 6u
#define CE_ERROR_NO_MORE_FILES 18u
#define CE_ERROR_INVALID_PARAMETER 87u
#define CE_ERROR_DISK_FULL 112u
#define CE_ERROR_INSUFFICIENT_BUFFER 122u
#define CE_ERROR_MOD_NOT_FOUND 126u
#define CE_ERROR_CALL_NOT_IMPLEMENTED 120u
#define CE_ERROR_ALREADY_EXISTS 183u
#define CE_ERROR_MORE_DATA 234u
#define CE_ERROR_NO_MORE_ITEMS 259u
#define CE_ERROR_TIMEOUT 1460u

#define CE_HRESULT_FROM_WIN32(code) ((HRESULT)((code) == 0 ? 0u : ((((uint32_t)(code)) & 0xFFFFu) | 0x80070000u)))
#define CE_E_FAIL ((HRESULT)0x80004005u)

/* CeFindAllFiles field flags. */
#define FAF_ATTRIBUTES 0x0001u
#define FAF_CREATION_TIME 0x0002u
#define FAF_LASTACCESS_TIME 0x0004u
#define FAF_LASTWRITE_TIME 0x0008u
#define FAF_SIZE_HIGH 0x0010u
#define FAF_SIZE_LOW 0x0020u
#define FAF_OID 0x0040u
#define FAF_NAME 0x0080u
#define FAF_FOLDERS_ONLY 0x4000u

/* The link start record. 12 bytes on 32-bit targets (24 on 64-bit). */
typedef struct RAPIINIT {
    DWORD cbSize;
    HANDLE heRapiInit;  /* Win32 event; on POSIX a descriptor, (HANDLE)(intptr_t)fd */
    HRESULT hrRapiInit; /* valid once heRapiInit is signalled */
} RAPIINIT;

typedef struct CE_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[CE_MAX_PATH];
} CE_FIND_DATA;

typedef struct STORE_INFORMATION {
    DWORD dwStoreSize;
    DWORD dwFreeSize;
} STORE_INFORMATION;

#define CEBRIDGE_RAPI_ASSERT(name, cond) typedef char cebridge_rapi_##name[(cond) ? 1 : -1]
CEBRIDGE_RAPI_ASSERT(wchar, sizeof(WCHAR) == 2);
CEBRIDGE_RAPI_ASSERT(find_attr, offsetof(CE_FIND_DATA, dwFileAttributes) == 0);
CEBRIDGE_RAPI_ASSERT(find_ctime, offsetof(CE_FIND_DATA, ftCreationTime) == 4);
CEBRIDGE_RAPI_ASSERT(find_atime, offsetof(CE_FIND_DATA, ftLastAccessTime) == 12);
CEBRIDGE_RAPI_ASSERT(find_wtime, offsetof(CE_FIND_DATA, ftLastWriteTime) == 20);
CEBRIDGE_RAPI_ASSERT(find_sizeh, offsetof(CE_FIND_DATA, nFileSizeHigh) == 28);
CEBRIDGE_RAPI_ASSERT(find_sizel, offsetof(CE_FIND_DATA, nFileSizeLow) == 32);
CEBRIDGE_RAPI_ASSERT(find_oid, offsetof(CE_FIND_DATA, dwOID) == 36);
CEBRIDGE_RAPI_ASSERT(find_name, offsetof(CE_FIND_DATA, cFileName) == 40);
CEBRIDGE_RAPI_ASSERT(find_size, sizeof(CE_FIND_DATA) == 560);
CEBRIDGE_RAPI_ASSERT(store_size, sizeof(STORE_INFORMATION) == 8);
CEBRIDGE_RAPI_ASSERT(rapiinit_size, sizeof(RAPIINIT) == (sizeof(void *) == 4 ? 12 : 24));
CEBRIDGE_RAPI_ASSERT(procinfo_size, sizeof(PROCESS_INFORMATION) == (sizeof(void *) == 4 ? 16 : 24));

/* One function pointer type per operation, named PFN_<operation>. */
typedef HRESULT(RAPI_CALL *PFN_CeRapiInitEx)(RAPIINIT *init);
typedef HRESULT(RAPI_CALL *PFN_CeRapiUninit)(void);
typedef DWORD(RAPI_CALL *PFN_CeGetLastError)(void);
typedef HRESULT(RAPI_CALL *PFN_CeRapiGetError)(void);
typedef HRESULT(RAPI_CALL *PFN_CeRapiFreeBuffer)(void *buffer);
typedef HRESULT(RAPI_CALL *PFN_CeRapiInvoke)(const WCHAR *dll, const WCHAR *function, DWORD cbInput, BYTE *pInput,
                                             DWORD *pcbOutput, BYTE **ppOutput, void *ppStream, DWORD reserved);
typedef BOOL(RAPI_CALL *PFN_CeFindAllFiles)(const WCHAR *pattern, DWORD flags, DWORD *count, CE_FIND_DATA **array);
typedef HANDLE(RAPI_CALL *PFN_CeFindFirstFile)(const WCHAR *path, CE_FIND_DATA *data);
typedef BOOL(RAPI_CALL *PFN_CeFindClose)(HANDLE find);
typedef BOOL(RAPI_CALL *PFN_CeCreateDirectory)(const WCHAR *path, void *security);
typedef HANDLE(RAPI_CALL *PFN_CeCreateFile)(const WCHAR *name, DWORD access, DWORD share, void *security,
                                            DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
typedef BOOL(RAPI_CALL *PFN_CeReadFile)(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped);
typedef BOOL(RAPI_CALL *PFN_CeWriteFile)(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written,
                                         void *overlapped);
typedef DWORD(RAPI_CALL *PFN_CeGetFileSize)(HANDLE file, DWORD *high);
typedef BOOL(RAPI_CALL *PFN_CeCloseHandle)(HANDLE handle);
typedef BOOL(RAPI_CALL *PFN_CeDeleteFile)(const WCHAR *path);
typedef BOOL(RAPI_CALL *PFN_CeCreateProcess)(const WCHAR *image, const WCHAR *cmdline, void *processAttributes,
                                             void *threadAttributes, BOOL inherit, DWORD flags, void *environment,
                                             WCHAR *currentDirectory, void *startup, PROCESS_INFORMATION *info);
typedef BOOL(RAPI_CALL *PFN_CeGetStoreInformation)(STORE_INFORMATION *info);
typedef BOOL(RAPI_CALL *PFN_CeGetDiskFreeSpaceEx)(const WCHAR *dir, ULARGE_INTEGER *freeToCaller, ULARGE_INTEGER *total,
                                                  ULARGE_INTEGER *totalFree);
typedef LONG(RAPI_CALL *PFN_CeRegOpenKeyEx)(HKEY key, const WCHAR *subkey, DWORD options, REGSAM sam, HKEY *result);
typedef LONG(RAPI_CALL *PFN_CeRegEnumKeyEx)(HKEY key, DWORD index, WCHAR *name, DWORD *cchName, DWORD *reserved,
                                            WCHAR *cls, DWORD *cchClass, FILETIME *lastWrite);
typedef LONG(RAPI_CALL *PFN_CeRegQueryValueEx)(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type, BYTE *data,
                                               DWORD *cbData);
typedef LONG(RAPI_CALL *PFN_CeRegCloseKey)(HKEY key);

/*
 * X-macro over every operation, in the order of the provider table:
 * RAPI_OPERATION(name) for each. Used by the loader and the emulator's exports.
 */
#define CEBRIDGE_RAPI_OPERATIONS(RAPI_OPERATION) \
    RAPI_OPERATION(CeRapiInitEx)                 \
    RAPI_OPERATION(CeRapiUninit)                 \
    RAPI_OPERATION(CeGetLastError)               \
    RAPI_OPERATION(CeRapiGetError)               \
    RAPI_OPERATION(CeRapiFreeBuffer)             \
    RAPI_OPERATION(CeRapiInvoke)                 \
    RAPI_OPERATION(CeFindAllFiles)               \
    RAPI_OPERATION(CeFindFirstFile)              \
    RAPI_OPERATION(CeFindClose)                  \
    RAPI_OPERATION(CeCreateDirectory)            \
    RAPI_OPERATION(CeCreateFile)                 \
    RAPI_OPERATION(CeReadFile)                   \
    RAPI_OPERATION(CeWriteFile)                  \
    RAPI_OPERATION(CeGetFileSize)                \
    RAPI_OPERATION(CeCloseHandle)                \
    RAPI_OPERATION(CeDeleteFile)                 \
    RAPI_OPERATION(CeCreateProcess)              \
    RAPI_OPERATION(CeGetStoreInformation)        \
    RAPI_OPERATION(CeGetDiskFreeSpaceEx)         \
    RAPI_OPERATION(CeRegOpenKeyEx)               \
    RAPI_OPERATION(CeRegEnumKeyEx)               \
    RAPI_OPERATION(CeRegQueryValueEx)            \
    RAPI_OPERATION(CeRegCloseKey)

#endif /* CEBRIDGE_RAPI_H */
