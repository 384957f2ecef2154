// The PC's time zone for tests that reach the plug-in through its exports.
//
// POSIX: the scope sets TZ. The plug-in reads the zone when a session starts, and the
// tzset here carries a change to a session already running.
// Windows: the plug-in asks the system, whose zone a test cannot switch; wine takes
// it from TZ when the process starts. There the scope changes nothing and InForce()
// tells whether the process runs in that zone: the Windows test run starts the
// end-to-end suite once per zone (tests/CMakeLists.txt) and each test checks what
// its zone allows.
#ifndef CEBRIDGE_TESTS_SUPPORT_PC_TIME_ZONE_H
#define CEBRIDGE_TESTS_SUPPORT_PC_TIME_ZONE_H

#if defined(_WIN32)
#include <windows.h>
#else
#include "support/scoped_time_zone.h"
#endif

// A zone as TZ names it (no tzdata needed) and as Windows measures it.
struct PcZone {
    const char *tz;
    long windowsBias;  // minutes west of UTC in standard time
};
inline constexpr PcZone kSeoul{"KST-9", -540};
inline constexpr PcZone kUtc{"UTC0", 0};
inline constexpr PcZone kNewYork{"EST5EDT,M3.2.0,M11.1.0", 300};

class PcTimeZone {
public:
#if defined(_WIN32)
    explicit PcTimeZone(const PcZone &zone) {
        TIME_ZONE_INFORMATION system{};
        m_inForce = GetTimeZoneInformation(&system) != TIME_ZONE_ID_INVALID && system.Bias == zone.windowsBias;
    }
#else
    explicit PcTimeZone(const PcZone &zone) : m_zone(zone.tz) {}
#endif
    PcTimeZone(const PcTimeZone &) = delete;
    PcTimeZone &operator=(const PcTimeZone &) = delete;

    bool InForce() const { return m_inForce; }

private:
#if defined(_WIN32)
    bool m_inForce = false;
#else
    bool m_inForce = true;
    ScopedTimeZone m_zone;
#endif
};

#endif  // CEBRIDGE_TESTS_SUPPORT_PC_TIME_ZONE_H
