#include "interop.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "encoding.h"
#include "icalendar.h"
#include "item_text.h"
#include "local_files.h"
#include "phone_keeps.h"
#include "pim_items.h"
#include "pim_operations.h"
#include "vcard.h"

namespace host {
namespace {

Outcome Interrupted() { return Outcome::Failed(0, "interrupted", ErrorKind::kInterrupted); }

// The whole file, or standard input for "-".
Outcome ReadInput(const std::string &path, std::string *text) {
    if (path == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return Outcome::Ok();
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(LocalPath(path), ignored)) return PcFailure(path + ": a folder, not a file");
    std::ifstream file(LocalPath(path), std::ios::binary);
    if (!file) return SystemFailure(path);
    text->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return Outcome::Ok();
}

// An export that found nothing never empties a file that holds something: the phone
// may have failed to read what it holds.
Outcome KeepNonEmptyFile(const std::string &destination, const InteropReport &report) {
    std::error_code failure;
    const auto size = std::filesystem::file_size(LocalPath(destination), failure);
    if (report.written > 0 || report.force || destination == "-" || failure || size == 0) return Outcome::Ok();
    return Outcome::Failed(0, destination + " holds " + std::to_string(size) +
                                  " bytes and the phone listed nothing: it was not replaced with an empty file; "
                                  "export with --force to replace it");
}

// Writes `text` the way downloads land: a temporary beside the destination, renamed
// over it when complete ("-": standard output).
Outcome WriteOutput(const std::string &path, const std::string &defaultName, const std::string &text,
                    InteropReport *report) {
    DownloadTarget target;
    if (Outcome prepared = target.Prepare(path, defaultName); !prepared.ok) return prepared;
    if (Outcome kept = KeepNonEmptyFile(target.Destination(), *report); !kept.ok) {
        target.Discard();
        return kept;
    }
    errno = 0;
    std::FILE *file = OpenLocal(target.TemporaryPath(), "wb");
    if (!file) return SystemFailure(target.TemporaryPath());
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fclose(file) == 0 && written;
    if (!written) return SystemFailure(target.Destination());
    return target.Commit();
}

}  // namespace

// Every item of `type` with its item text split into fields (UTF-8).
Outcome ReadAllItems(PhoneSession &session, const std::string &type, std::vector<ItemFields> *all) {
    std::vector<ContentItem> items;
    Outcome outcome = session.link.Listing(type, &items);
    if (!outcome.ok) return outcome;
    session.lastListings[type] = items;
    for (const ContentItem &item : items) {
        if (session.link.Interrupted()) return Interrupted();
        std::string text;
        outcome = session.link.ItemText(type, item.id, &text);
        if (!outcome.ok) return outcome;
        all->push_back(ReadItemText(type, text, item));
        all->back().emplace_back("ID", item.id);
    }
    return outcome;
}

namespace {

std::string Field(const ItemFields &fields, const char *name) {
    for (const auto &[key, value] : fields)
        if (key == name) return value;
    return {};
}

// Notes the values of one exported item that the phone's widths may have cut.
void NoteMayBeCut(const std::string &kind, const std::string &id, const std::string &shown, const ItemFields &fields,
                  InteropReport *report) {
    const auto cut = MayBeCut(kind, fields);
    if (cut.empty()) return;
    report->mayBeCutLines.push_back(kMayBeCutIntro + ("\"" + shown + "\" ") + MayBeCutText(cut));
    report->mayBeCut.push_back({{"id", id}, {"item", shown}, {"fields", MayBeCutJson(cut)}});
}

}  // namespace

CalendarEvent EventOf(const ItemFields &fields) {
    AppointmentTimes times = ReadAppointmentTimes(fields);
    CalendarEvent event;
    event.title = Field(fields, "TITLE");
    event.location = Field(fields, "LOCATION");
    event.wholeDay = times.wholeDay;
    event.start = times.wholeDay ? DayOf(times.start, false) : times.start;
    // Whole days end at the midnight after their last day.
    event.end = times.wholeDay ? event.start + WholeDays(times) * 86400 : times.start + times.minutes * 60;
    event.uid = "cebridge-" + Field(fields, "ID") + "-" + std::to_string(event.start);
    return event;
}

namespace {

std::string CsvCell(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Rows as JSON objects (a ".json" path) or CSV with a header row.
std::string Rows(const std::string &path, const std::vector<std::string> &columns,
                 const std::vector<std::vector<std::string>> &rows) {
    std::string extension = path.size() >= 5 ? path.substr(path.size() - 5) : "";
    for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool json = extension == ".json";
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto &row : rows) {
            nlohmann::ordered_json object = nlohmann::ordered_json::object();
            for (size_t i = 0; i < columns.size(); ++i) object[columns[i]] = row[i];
            list.push_back(object);
        }
        return list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    auto line = [](const std::vector<std::string> &cells) {
        std::string text;
        for (size_t i = 0; i < cells.size(); ++i) text += (i ? "," : "") + CsvCell(cells[i]);
        return text + "\r\n";
    };
    std::string csv = line(columns);
    for (const auto &row : rows) csv += line(row);
    return csv;
}

// A contact's TITLE and SUFFIX are parts of the name, not the job.
std::string ReadableFieldName(const std::string &name) {
    if (name == "TITLE") return "honorific (TITLE, as in Dr.)";
    if (name == "SUFFIX") return "name suffix (SUFFIX, as in Jr.)";
    return name;
}

}  // namespace

// The fields of an add that can travel, as the phone will keep them (what a read
// gives back, what changed on the way). A field that cannot is left out with a note.
std::string HoldsBarText(const std::string &name) {
    return name + " (holds '|', which the plug-in's item text cannot carry)";
}

KeptItem Sendable(const std::string &type, const ItemFields &fields, std::vector<std::string> *notKept,
                  std::vector<std::string> *barred) {
    const std::vector<std::string> addable = AddableFields(type);
    ItemFields sendable;
    for (const auto &[name, value] : fields) {
        if (std::find(addable.begin(), addable.end(), name) == addable.end() && name != kNicknameOrId) {
            notKept->push_back(ReadableFieldName(name) + " (the phone's add cannot write it)");
        } else if (value.find('|') != std::string::npos) {
            notKept->push_back(HoldsBarText(name));
            if (barred) barred->push_back(name);
        } else {
            sendable.emplace_back(name, value);
        }
    }
    return AsThePhoneKeepsIt(type, sendable);
}

// The plug-in's item text of `fields`, in the phone's code page.
namespace {

std::string Joined(const std::vector<std::string> &parts) {
    std::string out;
    for (const std::string &part : parts) out += (out.empty() ? "" : "; ") + part;
    return out;
}

void Note(const std::string &note, nlohmann::json item, bool remark, InteropReport *report) {
    report->notes.push_back(note);
    if (remark) report->remarks.push_back(note);
    report->items.push_back(std::move(item));
}

void Skip(const std::string &shown, const std::string &why, bool refused, InteropReport *report) {
    ++(refused ? report->refused : report->skipped);
    Note((refused ? "refused " : "skipped ") + shown + ": " + why,
         {{"name", shown}, {"result", refused ? "refused" : "skipped"}, {"why", why}}, refused, report);
}

// Adds one item; a refusal by the phone is the item's, a lost link ends the import.
Outcome AddOne(PhoneSession &session, const std::string &type, const KeptItem &kept, const std::string &shown,
               const std::vector<std::string> &notKept, InteropReport *report) {
    Outcome outcome = AddPimItem(session, type, kept);
    if (!outcome.ok && outcome.status == 0) return outcome;
    if (!outcome.ok) {
        Skip(shown, DeviceToTerminal(outcome.message), true, report);
        return Outcome::Ok();
    }
    ++report->added;
    std::vector<std::string> changed;
    nlohmann::json changes = nlohmann::json::array();
    for (const FieldChange &change : kept.changes) {
        changed.push_back(change.Text());
        changes.push_back(change.Json());
    }
    Note("added " + shown + (notKept.empty() ? "" : " (not kept: " + Joined(notKept) + ")") +
             (changed.empty() ? "" : " (" + Joined(changed) + ")"),
         {{"name", shown}, {"result", "added"}, {"notKept", notKept}, {"changes", changes}},
         !notKept.empty() || !changed.empty(), report);
    return Outcome::Ok();
}

// Runs `add` over every item with `sink` counting them; a failed add or the
// session's cancel ends the run.
template <typename Item, typename Add>
Outcome AddEach(PhoneSession &session, ItemSink &sink, const char *label, std::vector<Item> &items, Add add) {
    sink.Begin(label, items.size());
    Outcome outcome = Outcome::Ok();
    for (Item &item : items) {
        outcome = session.link.Interrupted() ? Interrupted() : add(item);
        if (!outcome.ok) break;
        sink.Step();
    }
    sink.End();
    return outcome;
}

}  // namespace

// An event as the fields of an appointment add. Timed appointments go as start and
// minutes: the plug-in makes an end exactly a day after the start a whole day.
ItemFields AppointmentFieldsOf(const CalendarEvent &event) {
    ItemFields fields = {{"TITLE", event.title},
                         {"LOCATION", event.location},
                         {"WHOLEDAY", event.wholeDay ? "TRUE" : "FALSE"},
                         {"STARTTIME", PluginTimeText(event.start)}};
    if (event.wholeDay)
        fields.emplace_back("ENDTIME", PluginTimeText(event.end));
    else
        fields.emplace_back("DURATION", std::to_string((event.end - event.start) / 60));
    std::erase_if(fields, [](const auto &field) { return field.second.empty(); });
    return fields;
}

Outcome ExportContacts(PhoneSession &session, const std::string &path, InteropReport *report) {
    std::vector<ContactFields> contacts;
    Outcome outcome = ReadAllItems(session, kContactType, &contacts);
    if (!outcome.ok) return outcome;
    for (ContactFields &fields : contacts) {
        const std::string id = Field(fields, "ID");
        std::erase_if(fields, [](const auto &field) { return field.first == "ID"; });
        NoteMayBeCut(kContactType, id, Field(fields, "LASTNAME") + Field(fields, "FIRSTNAME"), fields, report);
    }
    report->written = contacts.size();
    return WriteOutput(path, "contacts.vcf", WriteVCards(contacts), report);
}

Outcome ExportCalendar(PhoneSession &session, const std::string &path, InteropReport *report) {
    std::vector<ItemFields> appointments;
    Outcome outcome = ReadAllItems(session, kAppointmentType, &appointments);
    if (!outcome.ok) return outcome;
    std::vector<CalendarEvent> events;
    for (const ItemFields &fields : appointments) {
        events.push_back(EventOf(fields));
        NoteMayBeCut(kAppointmentType, Field(fields, "ID"), events.back().title, fields, report);
    }
    report->written = events.size();
    return WriteOutput(path, "calendar.ics", WriteICalendar(events), report);
}

Outcome ExportCalls(PhoneSession &session, const std::string &path, InteropReport *report) {
    std::vector<ContentItem> calls;
    Outcome outcome = session.link.Listing("callhistory", &calls);
    if (!outcome.ok) return outcome;
    session.lastListings["callhistory"] = calls;
    std::vector<std::vector<std::string>> rows;
    for (const ContentItem &call : calls) {
        auto [number, name] = CallNumberAndName(call);
        rows.push_back({call.id, CallKind(call), number, name, StampText(call.startTime, false, true)});
        NoteMayBeCut(kCallKind, call.id, number, {{"number", number}, {"name", name}}, report);
    }
    report->written = rows.size();
    return WriteOutput(path, "calls.csv", Rows(path, {"id", "kind", "number", "name", "time"}, rows), report);
}

Outcome ExportMessages(PhoneSession &session, const std::string &path, InteropReport *report) {
    std::vector<std::vector<std::string>> rows;
    for (bool sent : {false, true}) {
        std::vector<SmsMessage> messages;
        Outcome outcome = ListMessages(session, sent, &messages);
        if (!outcome.ok) return outcome;
        for (const SmsMessage &message : messages) {
            rows.push_back({sent ? "sent" : "recv", message.id, message.number, StampText(message.stamp, true, true),
                            message.text});
            NoteMayBeCut(kMessageKind, message.id, message.number, {{"number", message.number}, {"text", message.text}},
                         report);
        }
    }
    report->written = rows.size();
    return WriteOutput(path, "sms.csv", Rows(path, {"box", "id", "number", "time", "text"}, rows), report);
}

// What an import with skipExisting finds on the phone: each item on the phone stands
// for one item of the file that it holds, so two items alike (two contacts of one name
// and no number) are two, not one. An item holds the PC's when what must be equal (a
// number, a start) is and each compared field reads as the PC's value (ReadsAs: a
// look-alike or '?' where the code page cannot say a character, a cut).
class PhoneHolds {
public:
    explicit PhoneHolds(const char *type) : m_type(type) {}
    // An item of the phone: `fields` as read.
    void Add(const std::string &equal, ItemFields fields) {
        m_items[Bucket(equal, fields)].push_back({std::move(fields), false});
    }
    // Whether one more item on the phone holds `given` (the PC's values; `asRead`: as
    // the phone would read them); it then stands for this one.
    bool Take(const std::string &equal, const ItemFields &given, const ItemFields &asRead) {
        auto found = m_items.find(Bucket(equal, asRead));
        if (found == m_items.end()) return false;
        const bool lost = given != asRead;
        for (auto &[fields, taken] : found->second)
            if (!taken && (fields == asRead || (lost && Holds(fields, given)))) return taken = true;
        return false;
    }

private:
    // Items compared: the same `equal` and the same count of characters in each field
    // (a look-alike or '?' stands for one character).
    static std::string Bucket(const std::string &equal, const ItemFields &fields) {
        std::string bucket = equal;
        for (const auto &[name, value] : fields) {
            const auto characters = std::count_if(
                value.begin(), value.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
            bucket += '\n';
            bucket += std::to_string(characters);
        }
        return bucket;
    }
    bool Holds(const ItemFields &read, const ItemFields &given) const {
        for (size_t i = 0; i < given.size(); ++i)
            if (!ReadsAs(m_type, given[i].first, given[i].second, read[i].second)) return false;
        return true;
    }

    const char *m_type;
    std::map<std::string, std::vector<std::pair<ItemFields, bool>>> m_items;
};

// The fields --skip-existing compares of a contact, in order.
ItemFields ComparedNames(const ItemFields &fields) {
    return {{"LASTNAME", Field(fields, "LASTNAME")}, {"FIRSTNAME", Field(fields, "FIRSTNAME")}};
}

Outcome ImportContacts(PhoneSession &session, const std::string &path, bool skipExisting, ItemSink &sink,
                       InteropReport *report) {
    std::string text;
    if (Outcome read = ReadInput(path, &text); !read.ok) return read;
    std::vector<ReadCard> cards = ReadVCards(text);
    if (cards.empty()) return PcFailure(path + ": no vCard (BEGIN:VCARD) in it");
    PhoneHolds onPhone(kContactType);
    if (skipExisting) {
        std::vector<ContactFields> contacts;
        Outcome outcome = ReadAllItems(session, kContactType, &contacts);
        if (!outcome.ok) return outcome;
        for (const ContactFields &fields : contacts)
            onPhone.Add(NumberForComparing(FirstNumber(fields)), ComparedNames(fields));
    }
    return AddEach(session, sink, "contacts import", cards, [&](ReadCard &card) {
        std::string shown =
            "\"" + card.shownName + "\"" + (card.changed.empty() ? "" : " (" + Joined(card.changed) + ")");
        const KeptItem kept = Sendable(kContactType, card.fields, &card.notKept);
        if (card.kind == "GROUP") {
            Skip(shown, kGroupIsNoContact, false, report);
        } else if (kept.sent.empty()) {
            Skip(shown, "nothing in it the phone can keep", true, report);
        } else if (skipExisting && onPhone.Take(NumberForComparing(FirstNumber(kept.read)), ComparedNames(kept.sent),
                                                ComparedNames(kept.read))) {
            Skip(shown, "its name and first number are on the phone already", false, report);
        } else {
            return AddOne(session, kContactType, kept, shown, card.notKept, report);
        }
        return Outcome::Ok();
    });
}

Outcome ImportCalendar(PhoneSession &session, const std::string &path, bool skipExisting, ItemSink &sink,
                       InteropReport *report) {
    if (!CanReadICalendar())
        return Outcome::Failed(0, "this build reads no iCalendar files (it has no iCalendar library); export works");
    std::string text;
    if (Outcome read = ReadInput(path, &text); !read.ok) return read;
    std::vector<ReadEvent> events;
    if (Outcome read = ReadICalendar(text, &events); !read.ok) return PcFailure(path + ": " + read.message);
    PhoneHolds onPhone(kAppointmentType);
    if (skipExisting) {
        std::vector<ItemFields> appointments;
        Outcome outcome = ReadAllItems(session, kAppointmentType, &appointments);
        if (!outcome.ok) return outcome;
        for (const ItemFields &fields : appointments) {
            CalendarEvent event = EventOf(fields);
            onPhone.Add(std::to_string(event.start), {{"TITLE", event.title}});
        }
    }
    return AddEach(session, sink, "calendar import", events, [&](const ReadEvent &read) {
        const CalendarEvent &event = read.event;
        if (!read.problem.empty() || !read.leftOut.empty()) {
            Skip(read.shown, read.problem.empty() ? read.leftOut : read.problem, read.leftOut.empty(), report);
            return Outcome::Ok();
        }
        std::vector<std::string> notKept = read.notKept;
        const KeptItem kept = Sendable(kAppointmentType, AppointmentFieldsOf(event), &notKept);
        if (skipExisting && onPhone.Take(std::to_string(event.start), {{"TITLE", Field(kept.sent, "TITLE")}},
                                         {{"TITLE", Field(kept.read, "TITLE")}})) {
            Skip(read.shown, "its title and start are on the phone already", false, report);
            return Outcome::Ok();
        }
        return AddOne(session, kAppointmentType, kept, read.shown, notKept, report);
    });
}

}  // namespace host
