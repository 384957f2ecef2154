// Contacts, appointments, calls and messages as files other programs read: vCard
// 3.0 (.vcf), iCalendar (.ics), CSV and JSON. Each function reads or adds every
// item through the plug-in; the export and import commands and the backup use them.
// A path of "-" is standard output (exports: the file the user sent there) or
// standard input (imports); an export writes a temporary beside the destination and
// replaces the destination only when complete. The session must be connected.
//
// Failures carry their kind: kPcFile for the PC's file (unreadable, no card in it,
// not writable), kInterrupted when the session's cancel flag was set, the phone's
// failure otherwise. An item the phone refuses is the import's report, not a failure.
#ifndef CEBRIDGE_HOST_INTEROP_H
#define CEBRIDGE_HOST_INTEROP_H

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "icalendar.h"
#include "phone_keeps.h"
#include "phone_session.h"
#include "progress_sink.h"

namespace host {

// What an export or import did (and, set before an export, what it may do).
struct InteropReport {
    // export: replace a file that holds something even when the export found nothing
    // (unforced, such a file is kept: the phone may have failed to read it).
    bool force = false;
    size_t written = 0;                              // export: items in the file
    size_t added = 0;                                // import: items added to the phone
    size_t skipped = 0;                              // import: already on the phone
    size_t refused = 0;                              // import: not representable on the phone, or refused by it
    std::vector<std::string> notes;                  // import: one line per item added, skipped or refused, and why
    std::vector<std::string> remarks;                // import: the notes of items changed on the way, or refused
    nlohmann::json items = nlohmann::json::array();  // import: per item, what became of it and what changed
    // export: the items with values the phone's widths may have cut, as lines and as JSON
    std::vector<std::string> mayBeCutLines;
    nlohmann::json mayBeCut = nlohmann::json::array();
};

// Every contact of the phone into a vCard 3.0 file.
Outcome ExportContacts(PhoneSession &session, const std::string &path, InteropReport *report);
// Every appointment of the phone into an iCalendar file.
Outcome ExportCalendar(PhoneSession &session, const std::string &path, InteropReport *report);
// The call history as CSV or JSON, chosen by the path's extension (.json, else CSV).
Outcome ExportCalls(PhoneSession &session, const std::string &path, InteropReport *report);
// Received and sent messages as CSV or JSON (a "box" column says which).
Outcome ExportMessages(PhoneSession &session, const std::string &path, InteropReport *report);

// Adds each card of a vCard file (2.1, 3.0 or 4.0) to the phone; with
// `skipExisting`, not the cards whose name and first number the phone already has.
// `sink` counts the cards ("contacts import").
Outcome ImportContacts(PhoneSession &session, const std::string &path, bool skipExisting, ItemSink &sink,
                       InteropReport *report);
// Adds each event of an iCalendar file to the phone; with `skipExisting`, not the
// events whose title and start the phone already has. Builds without an iCalendar
// reader (CanReadICalendar) fail it. `sink` counts the events ("calendar import").
Outcome ImportCalendar(PhoneSession &session, const std::string &path, bool skipExisting, ItemSink &sink,
                       InteropReport *report);

// The pieces the exports, imports and the sync share.
// Every item of `type` with its item text split into fields (UTF-8), its ID last as "ID".
Outcome ReadAllItems(PhoneSession &session, const std::string &type, std::vector<ItemFields> *all);
// An appointment read from the phone as an event (its UID made of its ID and start).
CalendarEvent EventOf(const ItemFields &fields);
// An event as the fields of an appointment add.
ItemFields AppointmentFieldsOf(const CalendarEvent &event);
// The fields of an add that can travel, as the phone will keep them (what a read
// gives back, what changed on the way). A field that cannot is left out with a note;
// *barred (when given): the fields left out because they hold '|'.
KeptItem Sendable(const std::string &type, const ItemFields &fields, std::vector<std::string> *notKept,
                  std::vector<std::string> *barred = nullptr);
// Why a field holding '|' is not sent: "NAME (holds '|', ...)".
std::string HoldsBarText(const std::string &name);

}  // namespace host

#endif  // CEBRIDGE_HOST_INTEROP_H
