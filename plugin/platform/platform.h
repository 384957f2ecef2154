// The plug-in's OS seam: everything it needs from the PC's operating system.
// POSIX and Win32 halves live in posix/ and win32/; nothing here includes core/,
// pim/, files/ or xml/.
//
// PC-side paths are composed with '\' as on Windows; on POSIX the file functions
// here take '\' as the directory separator and map it to '/'.
#ifndef CEBRIDGE_PLATFORM_H
#define CEBRIDGE_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "cebridge/rapi.h"

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kErrorTimeout = 1460;       // ERROR_TIMEOUT
constexpr uint32_t kErrorDatabaseFull = 4314;  // ERROR_DATABASE_FULL

// ---- threads ------------------------------------------------------------------
using ThreadRoutine = uint32_t (*)(void *argument);
struct Thread;  // opaque

// Starts a thread at once on `routine`; null when it cannot be created.
Thread *StartThread(ThreadRoutine routine, void *argument, uint32_t *threadId);
// Waits up to `timeoutMs` for the thread to end; true when it has ended.
bool WaitThread(Thread *thread, uint32_t timeoutMs);
// Releases the handle. A thread that has not ended is joined first, so that no
// thread ever outlives the object that owns it.
void CloseThread(Thread *thread);
uint32_t CurrentThreadId();
void SleepMs(uint32_t milliseconds);

// The millisecond tick counter (timeGetTime on Windows, a monotonic clock elsewhere).
uint32_t TickCountMs();

// ---- thread last-error ----------------------------------------------------------
void SetLastError(uint32_t code);
uint32_t GetLastError();

// ---- the queue's lock: a mutex and a counting semaphore ---------------------------
// Win32: a real mutex and semaphore taken together by WaitForMultipleObjects.
// POSIX: one mutex, a count and a condition, with the same observable behaviour.
class QueueLock {
public:
    explicit QueueLock(uint32_t maximumCount);
    ~QueueLock();
    QueueLock(const QueueLock &) = delete;
    QueueLock &operator=(const QueueLock &) = delete;

    // Waits up to `timeoutMs` for the mutex alone.
    bool LockMutex(uint32_t timeoutMs);
    void UnlockMutex();
    // With the mutex held: raises the count by one; false when it is at its maximum.
    bool RaiseCount();
    // One wait for both: the mutex and one count. On success the mutex is held.
    bool LockMutexAndTakeCount(uint32_t timeoutMs);

private:
    struct State;
    State *m_state;
};

// ---- a manual-reset event -----------------------------------------------------------
// Used as a session's stop signal: long waits (the link wait, transfers) wake on it.
class Event {
public:
    Event();
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    void Set();
    void Reset();
    bool IsSet() const;
    bool Wait(uint32_t timeoutMs);  // true when set
    // Win32: the event HANDLE; POSIX: a descriptor that is readable while set.
    intptr_t NativeHandle() const;

private:
    struct State;
    State *m_state;
};

enum class LinkWait { Signalled, Stopped, TimedOut, Failed };
// Waits for the provider's link handle (a Win32 event, or on POSIX a descriptor that
// becomes readable) or for `stop`, whichever comes first, up to `timeoutMs`.
LinkWait WaitForLink(HANDLE linkHandle, const Event &stop, uint32_t timeoutMs);

// ---- time --------------------------------------------------------------------------
struct SystemTime {  // the fields of Win32's SYSTEMTIME
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};

// Reads the PC's time zone (TZ on POSIX) for the local times below. The agent's
// thread calls it when a session starts, before any worker runs: re-reading TZ on
// every conversion would let a worker race whoever sets TZ. Windows asks the
// system each time, so there it does nothing.
void LoadTimeZone();
// The current local date and time of the PC (TZ on POSIX), seconds resolution.
SystemTime LocalNow();
// FILETIME (100 ns since 1601-01-01) to its broken-down form, no time-zone change.
bool FileTimeToSystemTime(uint64_t fileTime, SystemTime *out);
// Broken-down time to FILETIME; false for a date that has no FILETIME (month 0, ...).
bool SystemTimeToFileTime(const SystemTime &time, uint64_t *out);
// A UTC FILETIME as the PC's local time (daylight saving as the OS decides).
bool FileTimeToLocalSystemTime(uint64_t fileTime, SystemTime *out);
#if defined(_WIN32)
// For tests: local times follow `zone` instead of the PC's own setting, until called
// again with null (Windows takes its zone from the system, not from TZ).
void OverrideTimeZoneForTests(const TIME_ZONE_INFORMATION *zone);
#endif

// ---- code pages ----------------------------------------------------------------------
// The PC's ANSI code page: CP949 on POSIX unless CEBRIDGE_CODEPAGE names another;
// CP_ACP on Windows. Conversions never change the process's locale on POSIX.
using WideString = std::basic_string<WCHAR>;
std::string WideToAnsi(const WCHAR *text);
WideString AnsiToWide(const char *text);
// As WideToAnsi, but the result holds at most `maxBytes` bytes, cut after the last
// whole character that fits.
std::string WideToAnsiBounded(const WCHAR *text, size_t maxBytes);
size_t WideLength(const WCHAR *text);

// ---- the local heap (LocalAlloc/LocalFree on Windows, malloc/free on POSIX) ------------
void *LocalAllocZeroed(size_t bytes);
void LocalFree(void *block);

// ---- PC files ---------------------------------------------------------------------------
// `path` uses '\' as its separator on every platform.
std::string NativePath(const char *path);
FILE *OpenPcFile(const char *path, const char *mode);
// Opens for appending with write-through (O_DSYNC / FILE_FLAG_WRITE_THROUGH),
// creating the file when absent and letting others read it; -1 on failure.
intptr_t OpenWriteThroughAppend(const char *path);
bool WriteAll(intptr_t file, const void *data, size_t bytes);
void CloseFile(intptr_t file);
// Creates one directory level; an existing directory is not an error.
bool CreateOneDirectory(const char *path);

// ---- the PC registry below HKEY_LOCAL_MACHINE ------------------------------------------
// Windows: the real registry. POSIX: a file in the textual form of a .reg export
// (CEBRIDGE_REGISTRY, default $XDG_CONFIG_HOME/cebridge/registry.ini), one
// [HKEY_LOCAL_MACHINE\...] section per key, written by replace-and-rename.
class RegistryHandle {
public:
    RegistryHandle() = default;
    ~RegistryHandle();
    RegistryHandle(const RegistryHandle &) = delete;
    RegistryHandle &operator=(const RegistryHandle &) = delete;

    bool CreateOrOpen(const char *keyPath);  // full access, created when absent
    void Close();
    bool IsOpen() const;
    // Reads a REG_SZ value. Fails when absent or when it needs more than `capacity`
    // bytes including its terminator; `needed` then tells how many.
    bool QueryString(const char *name, char *buffer, size_t capacity, size_t *needed);
    bool QueryNumber(const char *name, uint32_t *value);
    bool SetString(const char *name, const char *value);
    bool SetNumber(const char *name, uint32_t value);

private:
    struct State;
    State *m_state = nullptr;
};

// ---- message box -------------------------------------------------------------------------
// Windows: a modal box with one OK button and no owner. POSIX: the text and caption go
// to standard error and the caller goes on at once.
void ShowMessageBox(const char *text, const char *caption);

// ---- the RAPI provider ------------------------------------------------------------------
// Every operation of the phone's Remote API, resolved by name from the provider:
// rapi.dll on Windows; on POSIX the library named by CEBRIDGE_RAPI, or else
// libceemu.so beside the plug-in. Windows honours CEBRIDGE_RAPI too, as a testing aid. Loaded on first use. A missing
// provider or operation is replaced by a stand-in that fails cleanly (CeRapiInitEx with E_FAIL, the others with their
// failure value and a device error), so every slot can always be called.
struct RapiTable {
#define CEBRIDGE_RAPI_SLOT(name) PFN_##name name;
    CEBRIDGE_RAPI_OPERATIONS(CEBRIDGE_RAPI_SLOT)
#undef CEBRIDGE_RAPI_SLOT
};
const RapiTable &Rapi();
// True when the provider library was found and loaded.
bool RapiProviderLoaded();
// For tests: the table the provider library at `path` yields (stand-ins where it
// lacks an operation); *loaded tells whether the library was found.
RapiTable LoadRapiTable(const char *path, bool *loaded);
// For tests: Rapi() answers with `table` until called again with null.
void OverrideRapiForTests(const RapiTable *table);

}  // namespace platform

#endif  // CEBRIDGE_PLATFORM_H
