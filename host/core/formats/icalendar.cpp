#include "icalendar.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <utility>

#if defined(CEBRIDGE_HAVE_LIBICAL)
#include <libical/ical.h>

// libical keeps a small error holder per thread that only thread-local storage
// points to; the asan tests do not scan that storage, so the holder would read as
// a leak of ours.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() {
    return "leak:icalerrno_return\n";
}
#endif

#include "content_line.h"
#include "encoding.h"

namespace host {
namespace {

// "20090601" for the day that starts at midnight UTC `day`.
std::string DateStamp(Instant day) { return UtcStamp(day).substr(0, 8); }

std::string WriteEvent(const CalendarEvent &event, const std::string &now) {
    std::string out = ContentLine("BEGIN", "VEVENT") + ContentLine("UID", EscapeText(event.uid)) +
                      ContentLine("DTSTAMP", now) + ContentLine("SUMMARY", EscapeText(event.title));
    if (!event.location.empty()) out += ContentLine("LOCATION", EscapeText(event.location));
    if (event.wholeDay)
        out += ContentLine("DTSTART;VALUE=DATE", DateStamp(event.start)) +
               ContentLine("DTEND;VALUE=DATE", DateStamp(event.end));
    else
        out += ContentLine("DTSTART", UtcStamp(event.start)) + ContentLine("DTEND", UtcStamp(event.end));
    return out + ContentLine("END", "VEVENT");
}

#if defined(CEBRIDGE_HAVE_LIBICAL)

std::string Digits(int value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

// The date and time fields of `time`, whatever its zone.
std::tm UtcFieldsOf(const icaltimetype &time) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    return fields;
}

// The instant of a DTSTART or DTEND as libical read it: a day as its midnight UTC,
// UTC as it is, a zone's time through that zone, a floating time in PC local time.
bool ToInstant(const icaltimetype &time, Instant *instant) {
    std::string day = Digits(time.year, 4) + Digits(time.month, 2) + Digits(time.day, 2);
    bool dateOnly = false;
    if (time.is_date) return ParseTypedTime(day, instant, &dateOnly);
    if (time.zone && !icaltime_is_utc(time)) {
        const icaltimezone *zone = time.zone;
        *instant = FromZoneFields(UtcFieldsOf(time), [zone](Instant at) {
            return FromUtcFields(UtcFieldsOf(icaltime_from_timet_with_zone(static_cast<time_t>(at), 0, zone))) - at;
        });
        return true;
    }
    std::string stamp = day + "T" + Digits(time.hour, 2) + Digits(time.minute, 2) + Digits(time.second, 2);
    return ParseTypedTime(icaltime_is_utc(time) ? stamp + "Z" : stamp, instant, &dateOnly);
}

// DTSTART or DTEND with its zone: libical looks for the file's VTIMEZONE; a TZID
// that names none is looked up in the PC's zone database. "" or why not.
std::string ZonedTime(icalcomponent *event, icalproperty_kind kind, icaltimetype *time) {
    *time = kind == ICAL_DTSTART_PROPERTY ? icalcomponent_get_dtstart(event) : icalcomponent_get_dtend(event);
    icalproperty *property = icalcomponent_get_first_property(event, kind);
    icalparameter *zone = property ? icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER) : nullptr;
    if (!zone || time->zone || time->is_date) return {};
    const char *tzid = icalparameter_get_tzid(zone);
    icaltimezone *builtin = tzid ? icaltimezone_get_builtin_timezone(tzid) : nullptr;
    if (!builtin) return std::string("unknown time zone ") + (tzid ? tzid : "");
    time->zone = builtin;
    return {};
}

std::string Text(const char *text) { return text ? text : ""; }

// libical drops a property whose value it cannot read and leaves an X-LIC-ERROR
// naming it ("Can't parse as DATE-TIME value in DTSTART property. Removing entire
// property: notadate"). A time that cannot be read is the event's problem; "" when none.
std::string UnreadableTime(icalcomponent *event) {
    for (icalproperty *error = icalcomponent_get_first_property(event, ICAL_XLICERROR_PROPERTY); error;
         error = icalcomponent_get_next_property(event, ICAL_XLICERROR_PROPERTY)) {
        std::string text = Text(icalproperty_get_xlicerror(error));
        for (const char *name : {"DTSTART", "DTEND", "DURATION"}) {
            if (text.find(std::string(" in ") + name + " property") == std::string::npos) continue;
            size_t value = text.find(": ");
            return std::string("its ") + name + " is no date or time" +
                   (value == std::string::npos ? "" : ": " + text.substr(value + 2));
        }
    }
    return {};
}

// What an event holds that the phone's appointment has no place for: properties
// (each named once) and components such as alarms. Private X- properties, and those
// that only describe the file's copy (UID, DTSTAMP, SEQUENCE...), are not named.
std::vector<std::string> NotKept(icalcomponent *event) {
    static const icalproperty_kind kRead[] = {
        ICAL_SUMMARY_PROPERTY,      ICAL_LOCATION_PROPERTY, ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY,
        ICAL_DURATION_PROPERTY,     ICAL_UID_PROPERTY,      ICAL_DTSTAMP_PROPERTY, ICAL_CREATED_PROPERTY,
        ICAL_LASTMODIFIED_PROPERTY, ICAL_SEQUENCE_PROPERTY, ICAL_TRANSP_PROPERTY,  ICAL_X_PROPERTY};
    std::vector<std::string> named;
    auto add = [&named](const std::string &name) {
        if (std::find(named.begin(), named.end(), name) == named.end()) named.push_back(name);
    };
    for (icalproperty *property = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); property;
         property = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
        icalproperty_kind kind = icalproperty_isa(property);
        bool confirmed = kind == ICAL_STATUS_PROPERTY && icalproperty_get_status(property) == ICAL_STATUS_CONFIRMED;
        if (kind == ICAL_XLICERROR_PROPERTY)
            add("an unreadable line (" + Text(icalproperty_get_xlicerror(property)) + ")");
        else if (!confirmed && std::find(std::begin(kRead), std::end(kRead), kind) == std::end(kRead))
            add(Text(icalproperty_get_property_name(property)));
    }
    for (icalcomponent *child = icalcomponent_get_first_component(event, ICAL_ANY_COMPONENT); child;
         child = icalcomponent_get_next_component(event, ICAL_ANY_COMPONENT))
        add(icalcomponent_isa(child) == ICAL_VALARM_COMPONENT
                ? "alarm (VALARM)"
                : Text(icalcomponent_kind_to_string(icalcomponent_isa(child))));
    return named;
}

// Components the phone keeps nothing of, as a user knows them.
std::string OtherComponent(icalcomponent_kind kind) {
    switch (kind) {
    case ICAL_VTODO_COMPONENT: return "a task (VTODO): the phone's calendar keeps appointments only";
    case ICAL_VJOURNAL_COMPONENT: return "a journal entry (VJOURNAL): the phone's calendar keeps appointments only";
    case ICAL_VFREEBUSY_COMPONENT: return "free/busy time (VFREEBUSY): the phone's calendar keeps appointments only";
    default: return {};
    }
}

// The appointment an event makes, or why it cannot be one.
std::string ReadTimes(icalcomponent *event, CalendarEvent *out) {
    if (icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY) ||
        icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY))
        return "it repeats (RRULE/RDATE), and the phone keeps single appointments only";
    if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
        return "it changes one occurrence of a repeating event";
    icaltimetype start, end;
    if (std::string unreadable = UnreadableTime(event); !unreadable.empty()) return unreadable;
    if (!icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY)) return "it has no DTSTART";
    std::string problem = ZonedTime(event, ICAL_DTSTART_PROPERTY, &start);
    if (problem.empty()) problem = ZonedTime(event, ICAL_DTEND_PROPERTY, &end);
    if (!problem.empty()) return problem;
    out->wholeDay = start.is_date;
    if (!ToInstant(start, &out->start)) return "its DTSTART is no time the phone can hold";
    icalproperty *duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
    const icaldurationtype length = duration ? icalproperty_get_duration(duration) : icaldurationtype{};
    if (duration && !out->wholeDay && length.days == 0 && length.weeks == 0 &&
        !icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
        // A duration of hours, minutes and seconds is exact time, across a change of offset too.
        out->end = out->start + (length.is_neg ? -1 : 1) * (length.hours * 3600 + length.minutes * 60 + length.seconds);
    } else if (icaltime_is_null_time(end)) {
        out->end = out->start + (out->wholeDay ? 86400 : 0);
    } else {
        if (end.is_date != start.is_date) return "DTSTART and DTEND are not both days or both times";
        if (!ToInstant(end, &out->end)) return "its DTEND is no time the phone can hold";
    }
    if (out->end < out->start) return "it ends before it starts";
    if (out->wholeDay && out->end == out->start) out->end += 86400;
    return {};
}

void CollectEvents(icalcomponent *component, std::vector<ReadEvent> *events) {
    for (icalcomponent *child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT); child;
         child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT)) {
        icalcomponent_kind kind = icalcomponent_isa(child);
        if (kind == ICAL_VCALENDAR_COMPONENT) CollectEvents(child, events);
        if (kind != ICAL_VEVENT_COMPONENT && OtherComponent(kind).empty()) continue;
        ReadEvent read;
        read.event.uid = Text(icalcomponent_get_uid(child));
        read.event.title = Text(icalcomponent_get_summary(child));
        read.event.location = Text(icalcomponent_get_location(child));
        read.problem = kind == ICAL_VEVENT_COMPONENT ? ReadTimes(child, &read.event) : OtherComponent(kind);
        read.notKept = NotKept(child);
        if (icalcomponent_get_status(child) == ICAL_STATUS_CANCELLED)
            read.leftOut = "it is cancelled (STATUS:CANCELLED)";
        read.shown = '"';
        read.shown += read.event.title;
        read.shown += '"';
        if (read.problem.empty()) {
            read.shown += ' ';
            read.shown += read.event.wholeDay ? DayText(read.event.start) : LocalText(read.event.start);
        }
        events->push_back(read);
    }
}

#endif

}  // namespace

std::string WriteICalendar(const std::vector<CalendarEvent> &events) {
    std::string now = UtcStamp(static_cast<Instant>(std::time(nullptr)));
    std::string out = ContentLine("BEGIN", "VCALENDAR") + ContentLine("VERSION", "2.0") +
                      ContentLine("PRODID", "-//cebridge//cebridge " CEBRIDGE_VERSION "//EN") +
                      ContentLine("CALSCALE", "GREGORIAN");
    for (const CalendarEvent &event : events) out += WriteEvent(event, now);
    return out + ContentLine("END", "VCALENDAR");
}

namespace {

// One logical line of a text: where it starts and ends (its CR LF and continuations
// included), and its upper-case name.
struct Line {
    size_t start, end;
    std::string name, unfolded;
};

std::vector<Line> LinesOf(const std::string &text) {
    std::vector<Line> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string physical = text.substr(at, end - at);
        while (!physical.empty() && (physical.back() == '\n' || physical.back() == '\r')) physical.pop_back();
        if (!lines.empty() && !physical.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
            lines.back().end = end;
            lines.back().unfolded += physical.substr(1);
        } else {
            lines.push_back({at, end, "", physical});
        }
        at = end;
    }
    for (Line &line : lines) {
        const size_t stop = line.unfolded.find_first_of(";:");
        line.name = line.unfolded.substr(0, stop);
        std::transform(line.name.begin(), line.name.end(), line.name.begin(),
                       [](unsigned char c) { return char(std::toupper(c)); });
    }
    return lines;
}

// A line's name and parameters (before its first ':' outside quotes).
std::string HeadOf(const std::string &unfolded) {
    bool quoted = false;
    for (size_t i = 0; i < unfolded.size(); ++i) {
        if (unfolded[i] == '"') quoted = !quoted;
        if (unfolded[i] == ':' && !quoted) return unfolded.substr(0, i);
    }
    return unfolded;
}

std::string ValueOf(const std::string &unfolded) {
    const std::string head = HeadOf(unfolded);
    return head.size() < unfolded.size() ? unfolded.substr(head.size() + 1) : std::string();
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

}  // namespace

std::string EventWithChanges(const std::string &text, const std::string &uid, const CalendarEvent &event,
                             const EventChanges &changes) {
    const std::vector<Line> lines = LinesOf(text);
    // The event: the VEVENT of `uid` that changes no single occurrence.
    size_t begin = lines.size(), end = lines.size();
    for (size_t i = 0; i < lines.size() && end == lines.size(); ++i) {
        if (Upper(lines[i].unfolded) != "BEGIN:VEVENT") continue;
        size_t close = i + 1;
        bool ours = uid.empty(), occurrence = false;
        int depth = 0;
        for (; close < lines.size(); ++close) {
            const std::string upper = Upper(lines[close].unfolded);
            if (depth == 0 && upper == "END:VEVENT") break;
            if (upper.rfind("BEGIN:", 0) == 0) ++depth;
            if (upper.rfind("END:", 0) == 0 && depth > 0) --depth;
            if (depth == 0 && lines[close].name == "UID") ours = ours || ValueOf(lines[close].unfolded) == uid;
            if (depth == 0 && lines[close].name == "RECURRENCE-ID") occurrence = true;
        }
        if (ours && !occurrence && close < lines.size()) begin = i, end = close;
    }
    if (begin == lines.size()) return text;
    std::string times;
    if (event.wholeDay)
        times = ContentLine("DTSTART;VALUE=DATE", DateStamp(event.start)) +
                ContentLine("DTEND;VALUE=DATE", DateStamp(event.end));
    else
        times = ContentLine("DTSTART", UtcStamp(event.start)) + ContentLine("DTEND", UtcStamp(event.end));
    auto textLine = [](const std::string &unfolded, const std::string &name, const std::string &value) {
        return value.empty() ? std::string()
                             : ContentLine(unfolded.empty() ? name : HeadOf(unfolded), EscapeText(value));
    };
    bool titleWritten = false, locationWritten = false;
    std::string out = text.substr(0, lines[begin].end);
    int depth = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        const Line &line = lines[i];
        const std::string original = text.substr(line.start, line.end - line.start);
        const std::string upper = Upper(line.unfolded);
        if (upper.rfind("BEGIN:", 0) == 0) ++depth;
        if (upper.rfind("END:", 0) == 0 && depth > 0) --depth;
        if (depth > 0 || upper.rfind("END:", 0) == 0) {
            out += original;
        } else if (line.name == "SUMMARY" && changes.title) {
            out += titleWritten ? "" : textLine(line.unfolded, "SUMMARY", event.title);
            titleWritten = true;
        } else if (line.name == "LOCATION" && changes.location) {
            out += locationWritten ? "" : textLine(line.unfolded, "LOCATION", event.location);
            locationWritten = true;
        } else if ((line.name == "DTSTART" || line.name == "DTEND" || line.name == "DURATION") && changes.times) {
            out += std::exchange(times, "");
        } else {
            out += original;
        }
    }
    if (changes.title && !titleWritten) out += textLine("", "SUMMARY", event.title);
    if (changes.location && !locationWritten) out += textLine("", "LOCATION", event.location);
    if (changes.times) out += times;
    return out + text.substr(lines[end].start);
}

bool CanReadICalendar() {
#if defined(CEBRIDGE_HAVE_LIBICAL)
    return true;
#else
    return false;
#endif
}

Outcome ReadICalendar(const std::string &text, std::vector<ReadEvent> *events) {
#if defined(CEBRIDGE_HAVE_LIBICAL)
    icalerror_set_errors_are_fatal(0);
    const std::string utf8 = TextFileAsUtf8(text);
    // The library reads up to the first NUL byte: what follows one would be left out
    // without a word, so a file with one is refused.
    if (const size_t nul = utf8.find('\0'); nul != std::string::npos) {
        return Outcome::Failed(0, "a NUL byte at offset " + std::to_string(nul) + ": not iCalendar text",
                               ErrorKind::kBadInput);
    }
    // The library skips one byte order mark, not a second (files joined as saved).
    size_t from = 0;
    while (utf8.compare(from, 3, "\xef\xbb\xbf") == 0) from += 3;
    icalcomponent *root = icalparser_parse_string(utf8.c_str() + from);
    if (!root ||
        (icalcomponent_isa(root) != ICAL_VCALENDAR_COMPONENT && icalcomponent_isa(root) != ICAL_XROOT_COMPONENT)) {
        if (root) icalcomponent_free(root);
        return Outcome::Failed(0, "no iCalendar data (BEGIN:VCALENDAR) in it", ErrorKind::kBadInput);
    }
    CollectEvents(root, events);
    icalcomponent_free(root);
    // The library keeps its temporary strings in a ring of this thread until the
    // thread ends; every one of them is copied by now, and the host's threads live long.
    icalmemory_free_ring();
    return Outcome::Ok();
#else
    (void)text;
    (void)events;
    return Outcome::Failed(0, "this build reads no iCalendar files", ErrorKind::kBadInput);
#endif
}

}  // namespace host
