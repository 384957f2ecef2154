// Contacts, appointments, calls and messages listed, shown, added and removed, for
// every front end: results are values (host/api/pim_results.h gives each its one JSON
// shape). IDs belong to the session's last
// listing of their kind, so a show or remove lists first. The session must be
// connected. Failures keep their kind: an ID the listing lacks is kNotFound, fields
// an add cannot take kBadInput, the phone's refusals kPhoneRefused.
#ifndef CEBRIDGE_HOST_PIM_OPERATIONS_H
#define CEBRIDGE_HOST_PIM_OPERATIONS_H

#include <map>
#include <string>
#include <vector>

#include "appointment_time.h"
#include "phone_keeps.h"
#include "phone_session.h"
#include "pim_items.h"

namespace host {

// One contact, appointment or call of a listing, with what people read of it.
struct ListedItem {
    ContentItem item;                   // as the listing gives it (the phone's code page)
    std::string name;                   // contacts: the readable name; calls: the party's name (UTF-8)
    std::vector<std::string> nameFrom;  // contacts: the fields `name` was made of
    std::vector<std::string> numbers;   // contacts: the phone numbers it holds
    std::string number;                 // calls: the party's number
    bool nameListed = true;             // calls: the listing gives a name only with a number
    AppointmentTimes times;             // appointments: from each one's text (the listing has none)
    CutFields mayBeCut;
};

// kind: "contacts", "calendar" or "calls" (newest first).
struct PimListing {
    std::string kind;
    std::vector<ListedItem> items;
};
// The PIM object type of a listing's kind.
std::string PimType(const std::string &kind);
Outcome ListPimItems(PhoneSession &session, const std::string &kind, PimListing *listing);

// One contact or appointment read whole.
struct ShownItem {
    std::string id;  // the listing's spelling of the typed ID
    ItemFields fields;
    AppointmentTimes times;  // appointments
    CutFields mayBeCut;
};
// `typedId` in any letter case.
Outcome ShowPimItem(PhoneSession &session, const std::string &type, const std::string &typedId, ShownItem *shown);
// The fields as people read them: an appointment's times in PC local time (`iso`:
// as JSON gives them) and its DURATION in minutes, birthdays as days.
ItemFields ShownFields(const std::string &type, const ShownItem &shown, bool iso);

// An appointment's start and end as people read them ("" when unknown), whole days
// as days.
std::string AppointmentStartText(const AppointmentTimes &times, bool iso);
std::string AppointmentEndText(const AppointmentTimes &times, bool iso);

// The item an add of NAME=VALUE `words` (names in any letter case) sends, as the
// phone keeps it; an appointment's typed times made what the plug-in must be given.
// kBadInput, naming why, for words it cannot take. Needs no phone.
Outcome PrepareAdd(const std::string &type, const std::vector<std::string> &words, KeptItem *kept);
Outcome AddPimItem(PhoneSession &session, const std::string &type, const KeptItem &kept);

// An edit of a contact or appointment. The phone has no edit: the new record is
// added, found in a new listing and read back, and only then is the old one deleted.
// `words` (NAME=VALUE, as an add's; NAME= clears a field) change the old record's
// fields; what they do not name is carried into the new one: an appointment's start,
// its length (unless ENDTIME or DURATION give it) and WHOLEDAY each. A value the add
// cannot carry (a field it cannot write, such as BIRTHDAY; one a read may have cut;
// one holding '|') refuses the edit with kBadInput unless a word names that field
// (NAME= lets it go): nothing is dropped unsaid.
struct EditedItem {
    std::string oldId, newId;  // the listings' spellings
    KeptItem kept;
};
// kPhoneRefused, saying so, when the add failed or did not read back (the old record
// stays) or when the old one could not be deleted after a good add (both stay).
Outcome EditPimItem(PhoneSession &session, const std::string &type, const std::string &typedId,
                    const std::vector<std::string> &words, EditedItem *edited);

// Removes a contact, appointment or message (SmsType); *removedId: the listing's spelling.
Outcome RemovePimItem(PhoneSession &session, const std::string &type, const std::string &typedId,
                      std::string *removedId);

// The names of the contacts that hold each number, by the number as numbers are
// compared (NumberForComparing): a number two contacts hold names both.
using NamesByNumber = std::map<std::string, std::vector<std::string>>;
Outcome ReadNamesByNumber(PhoneSession &session, NamesByNumber *names);
// The contacts' names for a message's number; none for a number the read may have
// cut (a cut number is no proof of whose it is) or that no contact holds.
std::vector<std::string> NamesOfSender(const NamesByNumber &names, const SmsMessage &message);

// The message `id` of a box, listed now; kNotFound when the box lacks it.
Outcome FindMessage(PhoneSession &session, bool sent, const std::string &id, SmsMessage *message);

}  // namespace host

#endif  // CEBRIDGE_HOST_PIM_OPERATIONS_H
