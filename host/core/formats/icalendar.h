// Appointments as iCalendar text, both ways, as pure functions. Written by this
// program's own code (UTC times, whole days as DATE values); read with libical
// where the build has it (Linux), which knows the file's VTIMEZONEs and the PC's
// zone database. A build without it (Windows) refuses to read with a reason.
#ifndef CEBRIDGE_HOST_ICALENDAR_H
#define CEBRIDGE_HOST_ICALENDAR_H

#include <string>
#include <vector>

#include "appointment_time.h"
#include "outcome.h"

namespace host {

struct CalendarEvent {
    std::string uid, title, location;  // UTF-8
    bool wholeDay = false;
    // Instants; for whole days, midnight UTC of the first day and of the day after the last.
    Instant start = 0, end = 0;
};

// A VCALENDAR with one VEVENT per appointment, CR LF line ends.
std::string WriteICalendar(const std::vector<CalendarEvent> &events);

struct ReadEvent {
    CalendarEvent event;
    std::string shown;                 // the summary and start, for reports
    std::string problem;               // why the phone cannot hold it; "" when it can
    std::string leftOut;               // why it is left out on purpose (cancelled); "" when not
    std::vector<std::string> notKept;  // what of it the phone has no place for: "DESCRIPTION", "alarm (VALARM)"
};

// What a change on the phone changed of an appointment.
struct EventChanges {
    bool title = false, location = false, times = false;
};
// `text` with the VEVENT of `uid` (the first one when "") given `event`'s changed
// values in place: SUMMARY and LOCATION keep their parameters, DTSTART, DTEND and
// DURATION give way to a DTSTART and DTEND in UTC (or days); every other line, and
// every other component, stays byte for byte.
std::string EventWithChanges(const std::string &text, const std::string &uid, const CalendarEvent &event,
                             const EventChanges &changes);

// Whether this build reads iCalendar files at all.
bool CanReadICalendar();

// Every VEVENT of `text`, and every other component the phone cannot keep (tasks,
// journal entries) with its problem; kBadInput when the text is no calendar (or this
// build cannot read one): the caller knows whose text it was.
Outcome ReadICalendar(const std::string &text, std::vector<ReadEvent> *events);

}  // namespace host

#endif  // CEBRIDGE_HOST_ICALENDAR_H
