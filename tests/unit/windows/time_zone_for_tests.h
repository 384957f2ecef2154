// Windows takes local time from the system's zone, not from TZ: tests that name a
// zone the POSIX way get the same zone as a TIME_ZONE_INFORMATION instead.
//
//   ScopedWindowsTimeZone seoul("Asia/Seoul");   // local times are KST until it goes
#ifndef CEBRIDGE_TESTS_UNIT_WINDOWS_TIME_ZONE_FOR_TESTS_H
#define CEBRIDGE_TESTS_UNIT_WINDOWS_TIME_ZONE_FOR_TESTS_H

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

// A yearly rule of the Windows form: the `week`th `weekday` of `month` (5 = the last).
inline SYSTEMTIME YearlyRule(WORD month, WORD weekday, WORD week, WORD hour) {
    SYSTEMTIME rule{};
    rule.wMonth = month;
    rule.wDayOfWeek = weekday;
    rule.wDay = week;
    rule.wHour = hour;
    return rule;
}

// The zones the tests use: Korea, UTC, and US Eastern with its daylight saving.
inline TIME_ZONE_INFORMATION WindowsTimeZone(const std::string &tz) {
    TIME_ZONE_INFORMATION zone{};
    if (tz == "KST-9" || tz == "Asia/Seoul") {
        zone.Bias = -9 * 60;
    } else if (tz == "EST5EDT,M3.2.0,M11.1.0" || tz == "America/New_York") {
        zone.Bias = 5 * 60;
        zone.DaylightBias = -60;
        zone.DaylightDate = YearlyRule(3, 0, 2, 2);   // second Sunday of March, 02:00
        zone.StandardDate = YearlyRule(11, 0, 1, 2);  // first Sunday of November, 02:00
    } else if (tz != "UTC") {
        ADD_FAILURE() << "no Windows zone for TZ=" << tz;
    }
    return zone;
}

class ScopedWindowsTimeZone {
public:
    explicit ScopedWindowsTimeZone(const char *tz) : m_zone(WindowsTimeZone(tz)) {
        platform::OverrideTimeZoneForTests(&m_zone);
    }
    ~ScopedWindowsTimeZone() { platform::OverrideTimeZoneForTests(nullptr); }
    ScopedWindowsTimeZone(const ScopedWindowsTimeZone &) = delete;
    ScopedWindowsTimeZone &operator=(const ScopedWindowsTimeZone &) = delete;

private:
    TIME_ZONE_INFORMATION m_zone;
};

#endif  // CEBRIDGE_TESTS_UNIT_WINDOWS_TIME_ZONE_FOR_TESTS_H
