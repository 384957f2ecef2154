// Gives the PC a time zone for a scope: TZ on POSIX, a Windows zone on Windows
// (which ignores TZ). The previous setting comes back at the end.
#ifndef CEBRIDGE_TESTS_SCOPED_TIME_ZONE_H
#define CEBRIDGE_TESTS_SCOPED_TIME_ZONE_H

#if defined(_WIN32)
#include "unit/windows/time_zone_for_tests.h"
using ScopedTimeZone = ScopedWindowsTimeZone;
#else
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone) {
        if (const char *old = std::getenv("TZ")) m_previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_previous)
            setenv("TZ", m_previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    std::optional<std::string> m_previous;
};
#endif

#endif  // CEBRIDGE_TESTS_SCOPED_TIME_ZONE_H
