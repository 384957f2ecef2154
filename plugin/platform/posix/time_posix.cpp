// Calendar time on POSIX: FILETIME arithmetic and local time that follows TZ.
#include "platform/platform.h"

#include <ctime>
#include <limits>

namespace platform {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000u;  // FILETIME counts 100 ns
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFu;  // the largest one Windows converts

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

SystemTime FromTm(const tm &broken, unsigned milliseconds) {
    SystemTime time{};
    time.year = static_cast<uint16_t>(broken.tm_year + 1900);
    time.month = static_cast<uint16_t>(broken.tm_mon + 1);
    time.dayOfWeek = static_cast<uint16_t>(broken.tm_wday);
    time.day = static_cast<uint16_t>(broken.tm_mday);
    time.hour = static_cast<uint16_t>(broken.tm_hour);
    time.minute = static_cast<uint16_t>(broken.tm_min);
    time.second = static_cast<uint16_t>(broken.tm_sec);
    time.milliseconds = static_cast<uint16_t>(milliseconds);
    return time;
}

bool ToLocal(time_t seconds, unsigned milliseconds, SystemTime *out) {
    tm broken{};
    if (localtime_r(&seconds, &broken) == nullptr) return false;
    *out = FromTm(broken, milliseconds);
    return true;
}

}  // namespace

void LoadTimeZone() { tzset(); }

SystemTime LocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SystemTime local{};
    ToLocal(now.tv_sec, static_cast<unsigned>(now.tv_nsec / 1000000), &local);
    return local;
}

bool FileTimeToSystemTime(uint64_t fileTime, SystemTime *out) {
    if (fileTime > kLargestFileTime) return false;
    const uint64_t totalSeconds = fileTime / kTicksPerSecond;
    const int64_t days = static_cast<int64_t>(totalSeconds / kSecondsPerDay) - kDaysFrom1601To1970;
    const uint64_t secondOfDay = totalSeconds % kSecondsPerDay;
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    out->year = static_cast<uint16_t>(year);
    out->month = static_cast<uint16_t>(month);
    out->day = static_cast<uint16_t>(day);
    out->dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
    out->hour = static_cast<uint16_t>(secondOfDay / 3600);
    out->minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->second = static_cast<uint16_t>(secondOfDay % 60);
    out->milliseconds = static_cast<uint16_t>(fileTime % kTicksPerSecond / 10000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime &time, uint64_t *out) {
    if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12) return false;
    if (time.day < 1 || time.day > DaysInMonth(time.year, time.month)) return false;
    if (time.hour > 23 || time.minute > 59 || time.second > 59 || time.milliseconds > 999) return false;
    const int64_t days = DaysFromCivil(time.year, time.month, time.day) + kDaysFrom1601To1970;
    const uint64_t seconds =
        static_cast<uint64_t>(days) * kSecondsPerDay + time.hour * 3600u + time.minute * 60u + time.second;
    *out = seconds * kTicksPerSecond + time.milliseconds * 10000u;
    return true;
}

bool FileTimeToLocalSystemTime(uint64_t fileTime, SystemTime *out) {
    if (fileTime > kLargestFileTime) return false;
    const int64_t unixSeconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kDaysFrom1601To1970 * kSecondsPerDay;
    if (unixSeconds < std::numeric_limits<time_t>::min() || unixSeconds > std::numeric_limits<time_t>::max())
        return false;
    return ToLocal(static_cast<time_t>(unixSeconds), static_cast<unsigned>(fileTime % kTicksPerSecond / 10000), out);
}

}  // namespace platform
