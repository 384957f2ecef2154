// The two sides of a sync, each a list of items it can read, create, update and delete:
// the phone's contacts or calendar, and a PC folder of one file per item named by its
// UID (a ".vcf" card or ".ics" calendar each: the layout desktop programs share). Items
// are compared in the phone's form: a hash of what the phone keeps of an item (its
// fields cut and in the phone's code page), so what the phone cannot keep never
// counts as a change.
#ifndef CEBRIDGE_HOST_SYNC_SIDES_H
#define CEBRIDGE_HOST_SYNC_SIDES_H

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "icalendar.h"
#include "phone_keeps.h"
#include "phone_session.h"

namespace host {

enum class SyncKind { kContacts, kCalendar };
const char *SyncKindName(SyncKind kind);  // "contacts", "calendar"

// One item of a side as the sync compares and copies it.
struct SyncItem {
    std::string id;       // the phone's ID; the folder's file name without its extension
    std::string version;  // the file's modification time and size; "" on the phone
    bool read = false;    // the fields below are filled
    std::string problem;  // read, but the phone cannot take it: why
    std::string hash;     // of what the phone keeps of it
    std::string shown;    // its name or title, for reports
    ItemFields contact;   // contacts: the fields as the phone's reads give them
    CalendarEvent event;  // calendar: title and location as the phone keeps them
    std::string uid;      // the PC's: the card's or event's UID
    // The phone's: its contact fields when the sides last agreed (empty when not remembered).
    ItemFields remembered;
};

class SyncSide {
public:
    virtual ~SyncSide() = default;
    // Every item with its ID and version; read (all of it) where listing reads anyway.
    virtual Outcome List(std::vector<SyncItem> *items) = 0;
    // Fills the item of `item->id` in.
    virtual Outcome Read(SyncItem *item) = 0;
    // Writes `from` as a new item, or over the item `id`; *made: the item written, read.
    virtual Outcome Create(const SyncItem &from, SyncItem *made) = 0;
    virtual Outcome Update(const std::string &id, const SyncItem &from, SyncItem *made) = 0;
    virtual Outcome Remove(const std::string &id) = 0;
};

// The phone's contacts or appointments. The phone cannot change an item in place:
// an update deletes it and adds its new form, which gets a new ID.
class PhoneSide : public SyncSide {
public:
    PhoneSide(PhoneSession &session, SyncKind kind) : m_session(session), m_kind(kind) {}
    Outcome List(std::vector<SyncItem> *items) override;
    Outcome Read(SyncItem *item) override;
    Outcome Create(const SyncItem &from, SyncItem *made) override;
    Outcome Update(const std::string &id, const SyncItem &from, SyncItem *made) override;
    Outcome Remove(const std::string &id) override;
    // Adds `from` without learning its new ID: Settle learns the IDs of every item added
    // since the last listing, with one listing.
    Outcome Add(const SyncItem &from);
    // Each item added since (its Add's index among them) as the phone lists it; an add
    // left out could not be told from the others.
    Outcome Settle(std::vector<std::pair<size_t, SyncItem>> *made);
    // What the phone did not keep as given of the item the last Add, Create or Update wrote.
    const std::vector<FieldChange> &LastChanges() const { return m_lastChanges; }

private:
    const char *Type() const;
    // The item of `fields` read from the phone (its ID among them).
    SyncItem FromPhone(const ItemFields &fields) const;
    Outcome ReadListed(const ContentItem &listed, SyncItem *item);

    PhoneSession &m_session;
    SyncKind m_kind;
    std::set<std::string> m_ids;  // as the last listing gave them
    std::vector<FieldChange> m_lastChanges;
    std::vector<std::string> m_added;  // the hashes of the items added since the last listing
};

// A PC folder of ".vcf" or ".ics" files. Files are written whole: a temporary beside
// the file, renamed over it.
class FolderSide : public SyncSide {
public:
    FolderSide(std::string folder, SyncKind kind) : m_folder(std::move(folder)), m_kind(kind) {}
    Outcome List(std::vector<SyncItem> *items) override;
    Outcome Read(SyncItem *item) override;
    Outcome Create(const SyncItem &from, SyncItem *made) override;
    Outcome Update(const std::string &id, const SyncItem &from, SyncItem *made) override;
    Outcome Remove(const std::string &id) override;

private:
    std::string PathOf(const std::string &id) const;
    Outcome Write(const std::string &id, const std::string &text, const SyncItem &from, SyncItem *made);

    std::string m_folder;
    SyncKind m_kind;
};

// The item a vCard card or an iCalendar event gives, in the phone's form (read, hash).
SyncItem ItemOfText(SyncKind kind, const std::string &text);

// `from` as the text of a new card or calendar of one event, under a fresh *uid.
std::string NewItemText(SyncKind kind, const SyncItem &from, std::string *uid);
// The change the phone item `from` made written into the text `old`, in place: only
// the fields the phone changed since the sides last agreed, and of those only the ones
// whose PC value the phone would not read as its own; every other line (a photo, a
// description, an alarm, a value longer than the phone keeps, other items of the file)
// stays byte for byte. `fallbackUid` names a new text where `old` holds no item.
std::string RewrittenText(SyncKind kind, const SyncItem &from, const std::string &old, const std::string &fallbackUid);

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_SIDES_H
