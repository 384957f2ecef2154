#include "sync_sides.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>

#include "appointment_time.h"
#include "encoding.h"
#include "interop.h"
#include "item_text.h"
#include "local_files.h"
#include "pim_items.h"
#include "pim_operations.h"
#include "sha256.h"
#include "vcard.h"

namespace host {
namespace {

namespace fs = std::filesystem;

std::string FieldValue(const ItemFields &fields, const char *name) {
    for (const auto &[key, value] : fields)
        if (key == name) return value;
    return {};
}

// A contact as the phone keeps it: its non-empty fields, sorted (reads and adds order them differently).
std::string ContactHash(const ItemFields &fields) {
    std::vector<std::string> lines;
    for (const auto &[name, value] : fields)
        if (!value.empty() && name != "ID") lines.push_back(name + "=" + value);
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string &line : lines) all += line + "\n";
    return Sha256Hex(all);
}

// The phone keeps timed appointments to the minute.
CalendarEvent PhoneFormEvent(CalendarEvent event) {
    if (!event.wholeDay) event.end = event.start + (event.end - event.start) / 60 * 60;
    event.uid.clear();
    return event;
}

std::string EventHash(const CalendarEvent &event) {
    return Sha256Hex(event.title + "\n" + event.location + "\n" + (event.wholeDay ? "day" : "timed") + "\n" +
                     std::to_string(event.start) + "\n" + std::to_string(event.end));
}

void Fill(SyncKind kind, SyncItem *item) {
    item->read = true;
    if (kind == SyncKind::kContacts) {
        // What an add keeps of it: a field the add cannot write (a birthday) goes one way only.
        std::vector<std::string> notKept;
        item->hash = ContactHash(Sendable(kContactType, item->contact, &notKept).read);
        item->shown = FormattedName(item->contact);
    } else {
        item->event = PhoneFormEvent(item->event);
        item->hash = EventHash(item->event);
        item->shown = item->event.title + " (" +
                      (item->event.wholeDay ? DayText(item->event.start) : LocalText(item->event.start)) + ")";
    }
}

// The fields the phone's add takes for `item`: a PC item's values as the PC gives
// them (the add then names what the phone cuts or cannot say), times in the phone's form.
KeptItem AddForm(SyncKind kind, const SyncItem &item) {
    std::vector<std::string> notKept;
    if (kind == SyncKind::kContacts)
        return Sendable(kContactType, item.given.empty() ? item.contact : item.given, &notKept);
    ItemFields fields = AppointmentFieldsOf(item.event);
    for (auto &[name, value] : fields)
        if ((name == "TITLE" || name == "LOCATION") && !item.given.empty())
            value = FieldValue(item.given, name.c_str());
    return Sendable(kAppointmentType, fields, &notKept);
}

// The UID a card or event of `text` names ("" for none): its first UID line, unfolded.
std::string UidIn(const std::string &text) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        std::string head = line.substr(0, 4);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        if (head != "UID:") continue;
        std::string uid = line.substr(4);
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            end = std::min(text.find('\n', at), text.size());
            uid += text.substr(at + 1, end - at - 1);
            at = end + 1;
        }
        uid.erase(std::remove(uid.begin(), uid.end(), '\r'), uid.end());
        return uid;
    }
    return {};
}

// A UID no other item has: "cebridge-" and 24 hex digits.
std::string NewUid(const std::string &seed) {
    static std::atomic<uint64_t> counter{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    return "cebridge-" + Sha256Hex(seed + "/" + std::to_string(now) + "/" + std::to_string(++counter)).substr(0, 24);
}

std::string FileText(SyncKind kind, const std::string &uid, const SyncItem &item) {
    if (kind == SyncKind::kCalendar) {
        CalendarEvent event = item.event;
        event.uid = uid;
        return WriteICalendar({event});
    }
    std::string text = WriteVCards({item.contact});
    const size_t end = text.rfind("END:VCARD");
    return text.substr(0, end) + "UID:" + uid + "\r\n" + text.substr(end);
}

// The value of the phone's field `name` in a card's fields as read.
std::string CardValue(const ItemFields &card, const std::string &name) {
    if (name != kNicknameOrId) return FieldValue(card, name.c_str());
    for (const char *place : {kNicknameOrId, "GOVERNMENTID", "NICKNAME"})
        if (std::string value = FieldValue(card, place); !value.empty()) return value;
    return {};
}

bool IsDate(const std::string &name) { return name == "BIRTHDAY" || name == "ANNIVERSARY"; }

// The fields the phone changed since the sides last agreed (its form then: `phone`'s
// remembered form, or where none is remembered, the PC card's), each with its new
// value; a field whose PC value the phone would read as the phone's value (cut, or
// with '?' for characters its code page cannot say) is no change: the PC keeps its own.
ItemFields ChangedOnThePhone(const SyncItem &phone, const SyncItem &pc, const ItemFields &card) {
    const ItemFields &before = phone.remembered.empty() ? pc.contact : phone.remembered;
    std::vector<std::string> names;
    for (const ItemFields *fields : {&before, &phone.contact})
        for (const auto &[name, value] : *fields)
            if (name != "ID" && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    ItemFields changes;
    for (const std::string &name : names) {
        const std::string was = FieldValue(before, name.c_str()), now = FieldValue(phone.contact, name.c_str());
        const std::string pcValue = CardValue(card, name);
        if (was == now || ReadsAs(kContactType, name, pcValue, now)) continue;
        if (IsDate(name) && !now.empty() && SameDay(pcValue, now)) continue;
        changes.emplace_back(name, now);
    }
    return changes;
}

// Why a file of several items is not synced.
const char kSeveralItems[] =
    "the phone would hold one item of it, and a change made there could not be written back without touching the "
    "others; a file of one item each syncs";

// "mtime-size" of a file; "" when it cannot be read.
std::string VersionOf(const fs::path &path) {
    std::error_code error;
    const auto modified = fs::last_write_time(path, error);
    const auto size = fs::file_size(path, error);
    if (error) return {};
    return std::to_string(modified.time_since_epoch().count()) + "-" + std::to_string(size);
}

}  // namespace

const char *SyncKindName(SyncKind kind) { return kind == SyncKind::kContacts ? "contacts" : "calendar"; }

std::string NewItemText(SyncKind kind, const SyncItem &from, std::string *uid) {
    *uid = NewUid(from.hash);
    return FileText(kind, *uid, from);
}

std::string RewrittenText(SyncKind kind, const SyncItem &from, const std::string &old, const std::string &fallbackUid) {
    const SyncItem pc = ItemOfText(kind, old);
    if (!pc.problem.empty()) {
        const std::string uid = UidIn(old);
        return FileText(kind, uid.empty() ? fallbackUid : uid, from);
    }
    if (kind == SyncKind::kCalendar) {
        const EventChanges changes{from.event.title != pc.event.title, from.event.location != pc.event.location,
                                   from.event.wholeDay != pc.event.wholeDay || from.event.start != pc.event.start ||
                                       from.event.end != pc.event.end};
        return EventWithChanges(old, pc.uid, from.event, changes);
    }
    return CardWithFields(old, ChangedOnThePhone(from, pc, CardFields(old)));
}

SyncItem ItemOfText(SyncKind kind, const std::string &text) {
    SyncItem item;
    item.read = true;
    if (kind == SyncKind::kContacts) {
        std::vector<ReadCard> cards = ReadVCards(text);
        if (cards.empty()) {
            item.problem = "no vCard in it";
            return item;
        }
        if (cards.size() > 1) {
            item.problem = std::to_string(cards.size()) + " cards in one file: " + kSeveralItems;
            return item;
        }
        if (cards.front().kind == "GROUP") {
            item.problem = kGroupIsNoContact;
            return item;
        }
        std::vector<std::string> notKept;
        const KeptItem kept = Sendable(kContactType, cards.front().fields, &notKept, &item.barred);
        item.contact = kept.read;
        item.given = kept.sent;
        if (item.contact.empty()) item.problem = "nothing in it the phone can keep";
    } else {
        std::vector<ReadEvent> events;
        if (Outcome read = ReadICalendar(text, &events); !read.ok) {
            item.problem = read.message;
            return item;
        }
        auto usable = std::find_if(events.begin(), events.end(),
                                   [](const ReadEvent &read) { return read.problem.empty() && read.leftOut.empty(); });
        if (usable == events.end()) {
            item.problem = events.empty() ? "no event in it" : events.front().problem + events.front().leftOut;
            return item;
        }
        std::set<std::string> uids;
        for (const ReadEvent &read : events) uids.insert(read.event.uid);
        if (uids.size() > 1) {
            item.problem = std::to_string(uids.size()) + " items in one file: " + kSeveralItems;
            return item;
        }
        item.event = usable->event;
        item.uid = usable->event.uid;
        std::vector<std::string> notKept;
        const KeptItem kept = Sendable(kAppointmentType, AppointmentFieldsOf(item.event), &notKept, &item.barred);
        item.given = kept.sent;
        item.event.title = FieldValue(kept.read, "TITLE");
        item.event.location = FieldValue(kept.read, "LOCATION");
    }
    Fill(kind, &item);
    return item;
}

bool SameOnBothSides(SyncKind kind, const SyncItem &phone, const SyncItem &pc) {
    if (phone.hash == pc.hash) return true;
    if (!pc.read || pc.given.empty()) return false;
    if (kind == SyncKind::kCalendar)
        return phone.event.wholeDay == pc.event.wholeDay && phone.event.start == pc.event.start &&
               phone.event.end == pc.event.end &&
               ReadsAs(kAppointmentType, "TITLE", FieldValue(pc.given, "TITLE"), phone.event.title) &&
               ReadsAs(kAppointmentType, "LOCATION", FieldValue(pc.given, "LOCATION"), phone.event.location);
    // The fields an add writes; the one place NICKNAME and GOVERNMENTID share under the name reads give it.
    std::set<std::string> names;
    for (const std::string &name : AddableFields(kContactType))
        names.insert(name == "NICKNAME" || name == "GOVERNMENTID" ? kNicknameOrId : name);
    return std::all_of(names.begin(), names.end(), [&](const std::string &name) {
        return ReadsAs(kContactType, name, CardValue(pc.given, name), CardValue(phone.contact, name));
    });
}

std::string ItemShape(SyncKind kind, const SyncItem &item) {
    if (kind == SyncKind::kCalendar)
        return std::to_string(item.event.start) + "/" + std::to_string(item.event.end) +
               (item.event.wholeDay ? "/day" : "");
    // A look-alike or '?' stands for one character, as the characters it stands for.
    auto characters = [&](const char *name) {
        const std::string value = FieldValue(item.contact, name);
        return std::to_string(std::count_if(value.begin(), value.end(),
                                            [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    };
    return NumberForComparing(FirstNumber(item.contact)) + "/" + characters("LASTNAME") + "/" + characters("FIRSTNAME");
}

const char *PhoneSide::Type() const { return m_kind == SyncKind::kContacts ? kContactType : kAppointmentType; }

SyncItem PhoneSide::FromPhone(const ItemFields &fields) const {
    SyncItem item;
    item.id = FieldValue(fields, "ID");
    if (m_kind == SyncKind::kContacts) {
        item.contact = fields;
        std::erase_if(item.contact, [](const auto &field) { return field.first == "ID"; });
    } else {
        item.event = EventOf(fields);
    }
    Fill(m_kind, &item);
    return item;
}

Outcome PhoneSide::List(std::vector<SyncItem> *items) {
    std::vector<ItemFields> all;
    Outcome outcome = ReadAllItems(m_session, Type(), &all);
    if (!outcome.ok) return outcome;
    m_ids.clear();
    for (const ItemFields &fields : all) {
        items->push_back(FromPhone(fields));
        m_ids.insert(items->back().id);
    }
    return outcome;
}

Outcome PhoneSide::Read(SyncItem *item) {
    std::vector<ContentItem> listed;
    Outcome outcome = m_session.link.Listing(Type(), &listed);
    if (!outcome.ok) return outcome;
    auto found =
        std::find_if(listed.begin(), listed.end(), [&](const ContentItem &each) { return each.id == item->id; });
    if (found == listed.end()) return Outcome::Failed(0, "no item " + item->id + " on the phone", ErrorKind::kNotFound);
    return ReadListed(*found, item);
}

Outcome PhoneSide::ReadListed(const ContentItem &listed, SyncItem *item) {
    std::string text;
    Outcome outcome = m_session.link.ItemText(Type(), listed.id, &text);
    if (!outcome.ok) return outcome;
    ItemFields fields = ReadItemText(Type(), text, listed);
    fields.emplace_back("ID", listed.id);
    *item = FromPhone(fields);
    return outcome;
}

Outcome PhoneSide::Add(const SyncItem &from) {
    const KeptItem kept = AddForm(m_kind, from);
    m_lastChanges = kept.changes;
    if (kept.sent.empty()) return Outcome::Failed(0, "nothing in it the phone can keep", ErrorKind::kBadInput);
    Outcome outcome = AddPimItem(m_session, Type(), kept);
    if (outcome.ok) m_added.push_back(from.hash);
    return outcome;
}

// The phone's add gives no ID: the new items are the ones the next listing has and the
// last one did not, each paired with the add of its form (one listing for any number
// of adds). What no form tells apart pairs in the order the phone lists them.
Outcome PhoneSide::Settle(std::vector<std::pair<size_t, SyncItem>> *made) {
    if (m_added.empty()) return Outcome::Ok();
    const std::vector<std::string> added = std::exchange(m_added, {});
    std::vector<ContentItem> listed;
    Outcome outcome = m_session.link.Listing(Type(), &listed);
    if (!outcome.ok) return outcome;
    std::vector<SyncItem> fresh;
    for (const ContentItem &each : listed) {
        if (!m_ids.insert(each.id).second) continue;
        SyncItem item;
        if (!(outcome = ReadListed(each, &item)).ok) return outcome;
        fresh.push_back(item);
    }
    std::vector<bool> taken(fresh.size()), paired(added.size());
    std::multimap<std::string, size_t> byHash;
    for (size_t j = 0; j < fresh.size(); ++j) byHash.emplace(fresh[j].hash, j);
    for (size_t i = 0; i < added.size(); ++i) {
        auto same = byHash.find(added[i]);
        if (same == byHash.end()) continue;
        taken[same->second] = paired[i] = true;
        made->emplace_back(i, fresh[same->second]);
        byHash.erase(same);
    }
    const auto unpaired = std::count(paired.begin(), paired.end(), false);
    if (unpaired != std::count(taken.begin(), taken.end(), false)) return outcome;
    for (size_t i = 0, j = 0; i < added.size(); ++i) {
        if (paired[i]) continue;
        while (taken[j]) ++j;
        taken[j] = true;
        made->emplace_back(i, fresh[j]);
    }
    return outcome;
}

Outcome PhoneSide::Create(const SyncItem &from, SyncItem *made) {
    Outcome outcome = Add(from);
    std::vector<std::pair<size_t, SyncItem>> settled;
    if (outcome.ok) outcome = Settle(&settled);
    if (!outcome.ok) return outcome;
    if (settled.empty()) return Outcome::Failed(0, "the phone took the item but lists no new one");
    *made = settled.front().second;
    return outcome;
}

Outcome PhoneSide::Update(const std::string &id, const SyncItem &from, SyncItem *made) {
    Outcome outcome = Remove(id);
    return outcome.ok ? Create(from, made) : outcome;
}

Outcome PhoneSide::Remove(const std::string &id) {
    Outcome outcome = m_session.link.DeleteItem(Type(), id);
    if (outcome.ok) m_ids.erase(id);
    return outcome;
}

std::string FolderSide::PathOf(const std::string &id) const {
    return (LocalPath(m_folder) / (id + (m_kind == SyncKind::kContacts ? ".vcf" : ".ics"))).string();
}

Outcome FolderSide::List(std::vector<SyncItem> *items) {
    const std::string extension = m_kind == SyncKind::kContacts ? ".vcf" : ".ics";
    std::error_code error;
    fs::directory_iterator entries(LocalPath(m_folder), error);
    if (error) return PcFailure(m_folder + ": " + error.message());
    for (const fs::directory_entry &entry : entries) {
        const fs::path &path = entry.path();
        if (!entry.is_regular_file(error) || path.extension() != extension) continue;
        if (path.filename().string().front() == '.') continue;  // temporaries
        SyncItem item;
        item.id = path.stem().string();
        item.version = VersionOf(path);
        items->push_back(item);
    }
    std::sort(items->begin(), items->end(), [](const SyncItem &a, const SyncItem &b) { return a.id < b.id; });
    return Outcome::Ok();
}

Outcome FolderSide::Read(SyncItem *item) {
    const std::string path = PathOf(item->id);
    std::ifstream file(LocalPath(path), std::ios::binary);
    if (!file) return PcFailure(SystemReason(path));
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::string id = item->id;
    *item = ItemOfText(m_kind, text);
    item->id = id;
    item->version = VersionOf(LocalPath(path));
    if (item->shown.empty()) item->shown = id;
    return Outcome::Ok();
}

Outcome FolderSide::Write(const std::string &id, const std::string &text, const SyncItem &from, SyncItem *made) {
    const std::string path = PathOf(id);
    const std::string temporary = (LocalPath(m_folder) / ("." + id + ".cebridge-tmp")).string();
    std::FILE *file = OpenLocal(temporary, "wb");
    if (!file) return PcFailure(SystemReason(temporary));
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fclose(file) == 0 && written;
    std::error_code error;
    if (written) fs::rename(LocalPath(temporary), LocalPath(path), error);
    if (!written || error) {
        fs::remove(LocalPath(temporary), error);
        return PcFailure(SystemReason(path));
    }
    *made = from;
    made->id = id;
    made->version = VersionOf(LocalPath(path));
    return Outcome::Ok();
}

Outcome FolderSide::Create(const SyncItem &from, SyncItem *made) {
    std::string uid;
    const std::string text = NewItemText(m_kind, from, &uid);
    return Write(uid, text, from, made);
}

Outcome FolderSide::Update(const std::string &id, const SyncItem &from, SyncItem *made) {
    std::string old;
    {  // closed before Write replaces it: Windows replaces no file that is open
        std::ifstream file(LocalPath(PathOf(id)), std::ios::binary);
        old.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return Write(id, RewrittenText(m_kind, from, old, id), from, made);
}

Outcome FolderSide::Remove(const std::string &id) {
    std::error_code error;
    fs::remove(LocalPath(PathOf(id)), error);
    return error ? PcFailure(PathOf(id) + ": " + error.message()) : Outcome::Ok();
}

}  // namespace host
