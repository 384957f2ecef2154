// Appointment times between people and the plug-in. The phone keeps an
// appointment's start as a UTC instant, and a whole-day appointment as midnight
// UTC of its day (a date, the same in every zone). The plug-in takes nine hours off
// the start and end it is given before it writes them, hands the start back as the
// phone keeps it and the end as PC local time. People type and read PC local time.
#ifndef CEBRIDGE_HOST_APPOINTMENT_TIME_H
#define CEBRIDGE_HOST_APPOINTMENT_TIME_H

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace host {

// Seconds since 1970-01-01 UTC.
using Instant = int64_t;

// "2009-06-01 10:00[:00]", "2009-06-01T10:00[:00]", "20090601T100000" or a date
// "2009-06-01" / "20090601"; local time, or UTC with a final 'Z'. False when the
// text is none of these or names no real time.
bool ParseTypedTime(const std::string &text, Instant *instant, bool *dateOnly);

// A zone's offset from UTC, in seconds, at an instant.
using ZoneOffset = std::function<int64_t(Instant)>;

// The instant a zone's wall-clock `fields` name (RFC 5545 3.3.5): a time a change of
// offset repeats is its first occurrence (*repeated set, when given); one a change
// skips is read with the offset before the change.
Instant FromZoneFields(const std::tm &fields, const ZoneOffset &offsetAt, bool *repeated = nullptr);
// The UTC date and time fields as an instant.
Instant FromUtcFields(const std::tm &fields);

// The PC local date and time fields of `instant`.
std::tm LocalFields(Instant instant);

// Midnight UTC of the day `instant` falls on, in PC local time or in UTC.
Instant DayOf(Instant instant, bool local);

// "20090601T010000Z": `instant` in UTC.
std::string UtcStamp(Instant instant);

// The STARTTIME or ENDTIME text that makes the phone keep `instant`.
std::string PluginTimeText(Instant instant);

// A folder listing's "20100305T090703Z" (already PC local time) as "2010-03-05
// 09:07:03"; other text unchanged.
std::string ListingTimeToLocal(const std::string &stamp);
// The plug-in's "YYYYMMDDTHHMMSSZ" with its fields read as UTC or as PC local time.
// Local time carries no offset: in the hour the clocks repeat when they go back it
// names two instants an hour apart, and the earlier is taken (*repeated set, when
// given; nothing the phone sends tells which it was); in the hour they skip, it is
// read with the offset before the change.
bool ParseStamp(const std::string &stamp, bool local, Instant *instant, bool *repeated = nullptr);

// "2009-06-01 10:00 +09:00" (people) or "2009-06-01T10:00:00+09:00" (JSON), in PC
// local time; "2009-06-01" for a day.
std::string LocalText(Instant instant);
std::string LocalIso(Instant instant);
std::string DayText(Instant day);
// A listing's "YYYYMMDDTHHMMSSZ", its fields UTC (a call's start, as the phone keeps
// it) or PC local time (a message's, as the plug-in gives it), as "2009-06-01
// 10:00:00 +09:00" or, for JSON, LocalIso; without the offset in the hour the clocks
// repeat (local time names two instants there); "" for the phone's "no time" (a time
// of 1601); other text unchanged.
std::string StampText(const std::string &stamp, bool local, bool json);
// "2009-06-01T01:00:00Z": the instant in UTC.
std::string UtcIso(Instant instant);

// An appointment's times as the plug-in hands them back (start as the phone keeps
// it, end in PC local time), made one consistent pair.
struct AppointmentTimes {
    bool known = false;
    bool wholeDay = false;
    Instant start = 0;
    int64_t minutes = 0;
};

// The days a whole-day appointment covers from its start's day: its minutes in
// whole days, rounded up, and at least one (the phone may keep it without minutes).
int64_t WholeDays(const AppointmentTimes &times);

// From an appointment's item text, split into NAME/value pairs.
AppointmentTimes ReadAppointmentTimes(const std::vector<std::pair<std::string, std::string>> &fields);

}  // namespace host

#endif  // CEBRIDGE_HOST_APPOINTMENT_TIME_H
