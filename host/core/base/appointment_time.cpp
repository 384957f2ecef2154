#include "appointment_time.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

namespace host {
namespace {

// What the plug-in takes off the times it is given.
constexpr Instant kPluginShift = 9 * 3600;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back, for
// any year: the phone's times run from 1601 to 30828, beyond what gmtime, timegm and
// strftime take on some systems (Windows' stop before 1970 and after 3000).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::tm UtcFields(Instant instant) {
    const int64_t days = (instant >= 0 ? instant : instant - 86399) / 86400, seconds = instant - days * 86400;
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    std::tm fields{};
    fields.tm_year = static_cast<int>(year - 1900);
    fields.tm_mon = static_cast<int>(month - 1);
    fields.tm_mday = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    fields.tm_hour = static_cast<int>(seconds / 3600);
    fields.tm_min = static_cast<int>(seconds / 60 % 60);
    fields.tm_sec = static_cast<int>(seconds % 60);
    fields.tm_wday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    fields.tm_yday = static_cast<int>(days - DaysFromCivil(year, 1, 1));
    return fields;
}

int64_t LocalOffset(Instant instant) { return FromUtcFields(LocalFields(instant)) - instant; }

Instant FromLocalFields(const std::tm &fields) { return FromZoneFields(fields, LocalOffset); }

// The fields say a real time: mktime/timegm would otherwise roll 31 June into July.
bool Real(const std::tm &fields) {
    std::tm back = UtcFields(FromUtcFields(fields));
    return back.tm_year == fields.tm_year && back.tm_mon == fields.tm_mon && back.tm_mday == fields.tm_mday &&
           back.tm_hour == fields.tm_hour && back.tm_min == fields.tm_min && back.tm_sec == fields.tm_sec;
}

std::string Offset(Instant instant) {
    int offset = static_cast<int>(LocalOffset(instant) / 60) % (24 * 60);
    char text[32];
    std::snprintf(text, sizeof text, "%c%02d:%02d", offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60,
                  (offset < 0 ? -offset : offset) % 60);
    return text;
}

// The fields in `format`, whose %Y %m %d %H %M %S are the only conversions (any year).
std::string Format(const std::tm &fields, const char *format) {
    std::string text;
    for (const char *at = format; *at; ++at) {
        if (*at != '%' || !at[1]) {
            text += *at;
            continue;
        }
        char number[24];
        const int width = *++at == 'Y' ? 4 : 2;
        const long long value = *at == 'Y'   ? fields.tm_year + 1900LL
                                : *at == 'm' ? fields.tm_mon + 1
                                : *at == 'd' ? fields.tm_mday
                                : *at == 'H' ? fields.tm_hour
                                : *at == 'M' ? fields.tm_min
                                             : fields.tm_sec;
        std::snprintf(number, sizeof number, "%0*lld", width, value);
        text += number;
    }
    return text;
}

}  // namespace

Instant FromUtcFields(const std::tm &fields) {
    // (Fields out of their range carry over, as timegm takes them: month 12 is the next January.)
    const int64_t months = int64_t(fields.tm_year) * 12 + fields.tm_mon;
    const int64_t year = 1900 + (months >= 0 ? months : months - 11) / 12, month = months - (year - 1900) * 12 + 1;
    const int64_t days = DaysFromCivil(year, month, 1) + fields.tm_mday - 1;
    return days * 86400 + int64_t(fields.tm_hour) * 3600 + int64_t(fields.tm_min) * 60 + fields.tm_sec;
}

Instant FromZoneFields(const std::tm &fields, const ZoneOffset &offsetAt, bool *repeated) {
    const Instant wall = FromUtcFields(fields);  // the fields as if they were UTC
    // A day either side lies outside any change near the time (offsets change at most
    // once in two days).
    const int64_t before = offsetAt(wall - 86400), after = offsetAt(wall + 86400);
    std::vector<Instant> fits;
    for (int64_t offset : {before, after})
        if (offsetAt(wall - offset) == offset) fits.push_back(wall - offset);
    if (repeated) *repeated = fits.size() == 2 && fits[0] != fits[1];
    if (fits.empty()) return wall - before;  // skipped: the offset before the change
    return *std::min_element(fits.begin(), fits.end());
}

std::tm LocalFields(Instant instant) {
    std::time_t time = static_cast<std::time_t>(instant);
    std::tm fields{};
#if defined(_WIN32)
    localtime_s(&fields, &time);
#else
    localtime_r(&time, &fields);
#endif
    return fields;
}

bool ParseTypedTime(const std::string &typed, Instant *instant, bool *dateOnly) {
    std::string text = typed;
    bool utc = !text.empty() && (text.back() == 'Z' || text.back() == 'z');
    if (utc) text.pop_back();
    std::tm fields{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    auto matches = [&](const char *format, int count, bool withSeconds) {
        used = 0;
        second = 0;
        int got = withSeconds ? std::sscanf(text.c_str(), format, &year, &month, &day, &hour, &minute, &second, &used)
                              : std::sscanf(text.c_str(), format, &year, &month, &day, &hour, &minute, &used);
        return got == count && used == static_cast<int>(text.size());
    };
    bool timed = matches("%4d-%2d-%2d %2d:%2d:%2d%n", 6, true) || matches("%4d-%2d-%2d %2d:%2d%n", 5, false) ||
                 matches("%4d-%2d-%2dT%2d:%2d:%2d%n", 6, true) || matches("%4d-%2d-%2dT%2d:%2d%n", 5, false) ||
                 (text.size() == 15 && matches("%4d%2d%2dT%2d%2d%2d%n", 6, true));
    bool date = false;
    if (!timed) {
        hour = minute = second = 0;
        used = 0;
        date = (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 &&
                used == static_cast<int>(text.size())) ||
               (text.size() == 8 && std::sscanf(text.c_str(), "%4d%2d%2d%n", &year, &month, &day, &used) == 3 &&
                used == 8);
    }
    if (!timed && !date) return false;
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    if (year < 1601 || !Real(fields)) return false;
    *dateOnly = date;
    // A day is a date, the same everywhere: kept as its midnight UTC.
    *instant = utc || date ? FromUtcFields(fields) : FromLocalFields(fields);
    return true;
}

Instant DayOf(Instant instant, bool local) {
    std::tm fields = local ? LocalFields(instant) : UtcFields(instant);
    fields.tm_hour = fields.tm_min = fields.tm_sec = 0;
    return FromUtcFields(fields);
}

std::string UtcStamp(Instant instant) { return Format(UtcFields(instant), "%Y%m%dT%H%M%SZ"); }
std::string PluginTimeText(Instant instant) { return UtcStamp(instant + kPluginShift); }

namespace {

// "YYYYMMDDTHHMMSSZ" split into its fields; the year has four or five digits (a
// phone's FILETIME reaches from 1601 to 30828). False for any other text.
bool StampFields(const std::string &stamp, int *year, int *month, int *day, int *hour, int *minute, int *second) {
    if (stamp.size() != 16 && stamp.size() != 17) return false;
    const size_t digits = stamp.size() - 12;  // the year's
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool letter = i == digits + 4 || i + 1 == stamp.size();
        if (letter ? stamp[i] != (i + 1 == stamp.size() ? 'Z' : 'T')
                   : !std::isdigit(static_cast<unsigned char>(stamp[i])))
            return false;
    }
    auto number = [&](size_t at, size_t count) { return std::stoi(stamp.substr(at, count)); };
    *year = number(0, digits);
    *month = number(digits, 2);
    *day = number(digits + 2, 2);
    *hour = number(digits + 5, 2);
    *minute = number(digits + 7, 2);
    *second = number(digits + 9, 2);
    return true;
}

}  // namespace

bool ParseStamp(const std::string &stamp, bool local, Instant *instant, bool *repeated) {
    std::tm fields{};
    int year = 0, month = 0, day = 0;
    if (!StampFields(stamp, &year, &month, &day, &fields.tm_hour, &fields.tm_min, &fields.tm_sec)) return false;
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    if (repeated) *repeated = false;
    *instant = local ? FromZoneFields(fields, LocalOffset, repeated) : FromUtcFields(fields);
    return true;
}

std::string LocalText(Instant instant) { return Format(LocalFields(instant), "%Y-%m-%d %H:%M ") + Offset(instant); }
std::string LocalIso(Instant instant) { return Format(LocalFields(instant), "%Y-%m-%dT%H:%M:%S") + Offset(instant); }
std::string DayText(Instant day) { return Format(UtcFields(day), "%Y-%m-%d"); }
std::string StampText(const std::string &stamp, bool local, bool json) {
    Instant instant = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // The phone keeps "no time" as 0, the first moment of 1601 (in local time a few
    // hours either side of it): it is shown as no time.
    if (StampFields(stamp, &year, &month, &day, &hour, &minute, &second) && year <= 1601) return "";
    bool repeated = false;
    if (!ParseStamp(stamp, local, &instant, &repeated)) return stamp;
    // In the hour the clocks repeat the wall-clock time is all that is known: no offset is claimed.
    if (repeated) return Format(LocalFields(instant), json ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S");
    return json ? LocalIso(instant) : Format(LocalFields(instant), "%Y-%m-%d %H:%M:%S ") + Offset(instant);
}
std::string UtcIso(Instant instant) { return Format(UtcFields(instant), "%Y-%m-%dT%H:%M:%SZ"); }

int64_t WholeDays(const AppointmentTimes &times) { return std::max<int64_t>(1, (times.minutes + 1439) / 1440); }

AppointmentTimes ReadAppointmentTimes(const std::vector<std::pair<std::string, std::string>> &fields) {
    std::map<std::string, std::string> named(fields.begin(), fields.end());
    AppointmentTimes times;
    times.wholeDay = named["WHOLEDAY"] == "TRUE";
    if (!ParseStamp(named["STARTTIME"], false, &times.start)) return times;
    Instant end = 0;
    if (named.count("DURATION"))
        times.minutes = std::strtoll(named["DURATION"].c_str(), nullptr, 10);
    else if (ParseStamp(named["ENDTIME"], true, &end))
        times.minutes = (end - times.start) / 60;
    times.known = true;
    return times;
}

std::string ListingTimeToLocal(const std::string &stamp) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!StampFields(stamp, &year, &month, &day, &hour, &minute, &second)) return stamp;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

}  // namespace host
