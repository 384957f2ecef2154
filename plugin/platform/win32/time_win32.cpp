// Calendar time on Windows: the system's own conversions and time-zone rules.
#include "platform/platform.h"

#include <atomic>

namespace platform {

namespace {

SystemTime FromWin32(const SYSTEMTIME &time) {
    return SystemTime{time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                      time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

SYSTEMTIME ToWin32(const SystemTime &time) {
    SYSTEMTIME converted{};
    converted.wYear = time.year;
    converted.wMonth = time.month;
    converted.wDayOfWeek = time.dayOfWeek;
    converted.wDay = time.day;
    converted.wHour = time.hour;
    converted.wMinute = time.minute;
    converted.wSecond = time.second;
    converted.wMilliseconds = time.milliseconds;
    return converted;
}

// Null: the PC's own zone.
std::atomic<const TIME_ZONE_INFORMATION *> g_zoneForTests{nullptr};

FILETIME ToFileTime(uint64_t value) {
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(value);
    fileTime.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return fileTime;
}

}  // namespace

SystemTime LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FromWin32(now);
}

bool FileTimeToSystemTime(uint64_t fileTime, SystemTime *out) {
    const FILETIME value = ToFileTime(fileTime);
    SYSTEMTIME converted;
    if (!::FileTimeToSystemTime(&value, &converted)) return false;
    *out = FromWin32(converted);
    return true;
}

bool SystemTimeToFileTime(const SystemTime &time, uint64_t *out) {
    const SYSTEMTIME value = ToWin32(time);
    FILETIME converted;
    if (!::SystemTimeToFileTime(&value, &converted)) return false;
    // Not every implementation refuses a day the month does not have (29 February of a
    // common year); such a date would come back as another one.
    SYSTEMTIME back;
    if (!::FileTimeToSystemTime(&converted, &back) || back.wDay != time.day || back.wMonth != time.month) return false;
    *out = (static_cast<uint64_t>(converted.dwHighDateTime) << 32) | converted.dwLowDateTime;
    return true;
}

bool FileTimeToLocalSystemTime(uint64_t fileTime, SystemTime *out) {
    const FILETIME value = ToFileTime(fileTime);
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&value, &utc) || !SystemTimeToTzSpecificLocalTime(g_zoneForTests.load(), &utc, &local))
        return false;
    *out = FromWin32(local);
    return true;
}

void LoadTimeZone() {}

void OverrideTimeZoneForTests(const TIME_ZONE_INFORMATION *zone) { g_zoneForTests.store(zone); }

}  // namespace platform
