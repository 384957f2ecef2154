// Local times on Windows come from a Windows zone (bias and yearly daylight rules),
// not from TZ: the conversion behind listing times and appointment ends. (The
// appointment and listing tests themselves run here too, through the same zones.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "unit/windows/time_zone_for_tests.h"

namespace {

constexpr uint64_t kTicksPerMinute = 600000000ull;
constexpr uint64_t kJune1st2009 = 128882880000000000ull;  // 2009-06-01 00:00 UTC

std::string Local(uint64_t utcFileTime) {
    platform::SystemTime local{};
    if (!platform::FileTimeToLocalSystemTime(utcFileTime, &local)) return "<failed>";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", local.year, local.month, local.day, local.hour,
                  local.minute);
    return text;
}

TEST(WindowsTimeZone, KoreaAndUtcShiftTheSameMomentByNineHours) {
    const uint64_t end = kJune1st2009 + (10 * 60 + 90) * kTicksPerMinute;  // 10:00 + 90 min
    {
        ScopedWindowsTimeZone korea("Asia/Seoul");
        EXPECT_EQ(Local(end), "2009-06-01 20:30");
        EXPECT_EQ(Local(kJune1st2009 + 20 * 60 * kTicksPerMinute), "2009-06-02 05:00");  // the next day
    }
    {
        ScopedWindowsTimeZone utc("UTC");
        EXPECT_EQ(Local(end), "2009-06-01 11:30");
    }
}

TEST(WindowsTimeZone, DaylightSavingFollowsTheZonesYearlyRule) {
    ScopedWindowsTimeZone eastern("America/New_York");
    // 2009: daylight time from 8 March 02:00 to 1 November 02:00 local.
    EXPECT_EQ(Local(kJune1st2009), "2009-05-31 20:00");                                       // EDT, UTC-4
    EXPECT_EQ(Local(kJune1st2009 + 183ull * 24 * 60 * kTicksPerMinute), "2009-11-30 19:00");  // EST, UTC-5
}

}  // namespace
