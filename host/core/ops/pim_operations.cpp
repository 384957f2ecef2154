#include "pim_operations.h"

#include <algorithm>
#include <iterator>

#include "encoding.h"
#include "interop.h"
#include "item_text.h"
#include "vcard.h"

namespace host {
namespace {

// Contact fields the phone gives when read that its add does not write.
const char *const kReadOnlyContactFields[] = {
    "ANNIVERSARY", "BIRTHDAY", "BODY", "CARTELEPHONENUMBER", "CATEGORIES", "COMPANYTELEPHONENUMBER", "SUFFIX", "TITLE"};
// The longest appointment an add takes: a year, in minutes.
constexpr long long kLongestMinutes = 366 * 24 * 60;

size_t EditDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Why `name` cannot be added: a field the phone only reads, or one it does not have
// (with the closest known name when one is close).
std::string UnknownFieldError(const std::string &type, const std::string &name, const std::vector<std::string> &known) {
    const std::string upper = AsciiUpper(name);
    if (type != kAppointmentType && std::find(std::begin(kReadOnlyContactFields), std::end(kReadOnlyContactFields),
                                              upper) != std::end(kReadOnlyContactFields))
        return upper + " is shown when read, but the phone's add cannot write it";
    std::string closest = known.front();
    for (const std::string &candidate : known)
        if (EditDistance(upper, candidate) < EditDistance(upper, closest)) closest = candidate;
    bool close = EditDistance(upper, closest) <= upper.size() / 3;
    return "unknown field '" + name + "'" + (close ? " (did you mean " + closest + "?)" : "");
}

// The known field names of an add, from NAME=VALUE words in any letter case; kBadInput
// when a word is not such a field.
Outcome ParseFields(const std::string &type, const std::vector<std::string> &words, ItemFields *fields) {
    const std::vector<std::string> known = AddableFields(type);
    for (const std::string &word : words) {
        size_t equals = word.find('=');
        if (equals == std::string::npos || word.find('|') != std::string::npos)
            return BadInput("fields are NAME=VALUE without '|': " + word);
        std::string name = AsciiUpper(word.substr(0, equals));
        if (std::find(known.begin(), known.end(), name) == known.end())
            return BadInput(UnknownFieldError(type, word.substr(0, equals), known));
        if (std::any_of(fields->begin(), fields->end(), [&](const auto &field) { return field.first == name; })) {
            return BadInput(name + " is given twice");
        }
        fields->emplace_back(name, word.substr(equals + 1));
    }
    bool anyValue =
        std::any_of(fields->begin(), fields->end(), [](const auto &field) { return !field.second.empty(); });
    return anyValue ? Outcome::Ok() : BadInput("no field has a value: nothing to add");
}

std::string *FieldValue(ItemFields &fields, const char *name) {
    for (auto &[key, value] : fields)
        if (key == name) return &value;
    return nullptr;
}

// Turns typed appointment times into what the plug-in must be given for the phone
// to keep them (see appointment_time.h); kBadInput for what cannot be.
Outcome TranslateAppointment(ItemFields &fields) {
    std::string *wholeDayText = FieldValue(fields, "WHOLEDAY");
    bool wholeDay = wholeDayText && AsciiUpper(*wholeDayText) == "TRUE";
    if (wholeDayText) {
        if (!wholeDay && AsciiUpper(*wholeDayText) != "FALSE")
            return BadInput("WHOLEDAY is TRUE or FALSE, not " + *wholeDayText);
        *wholeDayText = wholeDay ? "TRUE" : "FALSE";
    }
    std::string *duration = FieldValue(fields, "DURATION");
    if (duration &&
        (duration->empty() || duration->size() > 9 || duration->find_first_not_of("0123456789") != std::string::npos ||
         std::stoll(*duration) > kLongestMinutes))
        return BadInput("DURATION is a number of minutes up to " + std::to_string(kLongestMinutes) + " (a year), not " +
                        *duration);
    if (duration && FieldValue(fields, "ENDTIME")) return BadInput("give ENDTIME or DURATION, not both");
    Instant times[2] = {0, 0};
    const char *names[2] = {"STARTTIME", "ENDTIME"};
    std::string *values[2] = {FieldValue(fields, names[0]), FieldValue(fields, names[1])};
    for (int i = 0; i < 2; ++i) {
        bool dateOnly = false;
        if (values[i] && !ParseTypedTime(*values[i], &times[i], &dateOnly)) {
            return BadInput(
                std::string(names[i]) + ": not a time: " + *values[i] +
                " (2009-06-01 10:00 or 20090601T100000 in local time, ending in Z for UTC; 2009-06-01 for a day)");
        }
        // A whole-day appointment keeps days: the end is its last day, inclusive.
        if (values[i] && wholeDay) times[i] = DayOf(times[i], !dateOnly) + (i == 1 ? 86400 : 0);
    }
    if (!values[0]) return BadInput("STARTTIME is required");
    if (values[1] && times[1] < times[0]) return BadInput("the appointment ends before it starts");
    if (values[1] && times[1] - times[0] > kLongestMinutes * 60)
        return BadInput("the appointment lasts more than a year");
    if (values[0] && wholeDay && !values[1] && !FieldValue(fields, "DURATION")) {
        fields.emplace_back("ENDTIME", "");
        values[1] = &fields.back().second;
        values[0] = FieldValue(fields, "STARTTIME");
        times[1] = times[0] + 86400;
    }
    for (int i = 0; i < 2; ++i)
        if (values[i]) *values[i] = PluginTimeText(times[i]);
    // A timed appointment goes as start and minutes: the plug-in makes an ENDTIME
    // exactly a day after the start a whole day.
    if (values[1] && !wholeDay) {
        std::string minutes = std::to_string((times[1] - times[0]) / 60);
        std::erase_if(fields, [](const auto &field) { return field.first == "ENDTIME"; });
        fields.emplace_back("DURATION", minutes);
    }
    return Outcome::Ok();
}

// IDs belong to the last listing of their kind in this session: list first.
Outcome RefreshListing(PhoneSession &session, const std::string &type) {
    std::vector<ContentItem> items;
    Outcome outcome = session.link.Listing(type, &items);
    if (outcome.ok) session.lastListings[type] = items;
    return outcome;
}

// "no contact with ID 7 (IDs are those `cebridge contacts` lists)".
Outcome NoSuchItem(const std::string &type, const std::string &id) {
    std::string noun = "item", command = "";
    if (type == kContactType) noun = "contact", command = "contacts";
    if (type == kAppointmentType) noun = "appointment", command = "calendar";
    if (type.find("smsdata/") == 0) noun = "message", command = type == SmsType(true) ? "sms sent" : "sms";
    return Outcome::Failed(0, "no " + noun + " with ID " + id + " (IDs are those `cebridge " + command + "` lists)",
                           ErrorKind::kNotFound);
}

// Lists `type` and finds `typedId` in it, in any letter case (IDs are hexadecimal):
// *listed is the listing's item.
Outcome FindListed(PhoneSession &session, const std::string &type, const std::string &typedId, ContentItem *listed) {
    Outcome outcome = RefreshListing(session, type);
    if (!outcome.ok) return outcome;
    for (const ContentItem &item : session.lastListings[type]) {
        if (AsciiUpper(item.id) != AsciiUpper(typedId)) continue;
        *listed = item;
        return outcome;
    }
    return NoSuchItem(type, typedId);
}

// The fields of a listed item, from its text.
Outcome ReadListedItem(PhoneSession &session, const std::string &type, const ContentItem &item, ItemFields *fields) {
    std::string text;
    Outcome outcome = session.link.ItemText(type, item.id, &text);
    if (outcome.ok) *fields = ReadItemText(type, text, item);
    return outcome;
}

// Contacts list by the name people read (the listing gives the phone's composed
// name, LASTNAME directly followed by FIRSTNAME): each contact's text gives it.
Outcome ReadContactName(PhoneSession &session, ListedItem *listed) {
    ItemFields fields;
    Outcome outcome = ReadListedItem(session, kContactType, listed->item, &fields);
    if (!outcome.ok) return outcome;
    listed->name = FormattedName(fields, &listed->nameFrom);
    for (const auto &[field, value] : fields)
        if (IsNumberField(field) && !value.empty()) listed->numbers.push_back(value);
    ItemFields checked = {{"title", DeviceToTerminal(listed->item.title)}};
    for (const auto &field : fields)
        if (std::find(listed->nameFrom.begin(), listed->nameFrom.end(), field.first) != listed->nameFrom.end())
            checked.push_back(field);
    listed->mayBeCut = MayBeCut(kContactType, checked);
    return outcome;
}

// The listing carries no times: each appointment's text does.
Outcome ReadAppointmentListed(PhoneSession &session, ListedItem *listed) {
    ItemFields fields;
    Outcome outcome = ReadListedItem(session, kAppointmentType, listed->item, &fields);
    if (!outcome.ok) return outcome;
    listed->times = ReadAppointmentTimes(fields);
    listed->mayBeCut = MayBeCut(kAppointmentType, {{"title", DeviceToTerminal(listed->item.title)}});
    return outcome;
}

// The phone's listing gives a call's name only with its number: a call without a
// number comes with neither.
void ReadCallListed(ListedItem *listed) {
    std::tie(listed->number, listed->name) = CallNumberAndName(listed->item);
    listed->nameListed = !listed->item.title.empty();
    listed->mayBeCut = MayBeCut(kCallKind, {{"number", listed->number}, {"name", listed->name}});
}

// "19710202T000000Z" as the day "1971-02-02".
std::string DayOrValue(const std::string &value) {
    Instant day = 0;
    return ParseStamp(value, false, &day) ? DayText(day) : value;
}

// An appointment's fields that say when it is: an edit carries them by what they mean
// (CarriedTimeWords), not as a read spells them.
const char *const kTimeFields[] = {"STARTTIME", "ENDTIME", "DURATION", "WHOLEDAY"};

bool IsTimeField(const std::string &name) {
    return std::find(std::begin(kTimeFields), std::end(kTimeFields), name) != std::end(kTimeFields);
}

// The field each NAME=VALUE word names, in capitals (the read's shared nickname or ID
// field as NICKNAME, the name an add writes it under).
std::vector<std::string> WordNames(std::vector<std::string> &words) {
    std::vector<std::string> names;
    for (std::string &word : words) {
        std::string name = AsciiUpper(word.substr(0, word.find('=')));
        if (name == kNicknameOrId) {
            name = "NICKNAME";
            word = name + word.substr(word.find('='));
        }
        names.push_back(name);
    }
    return names;
}

bool Among(const std::vector<std::string> &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// An appointment's times as words an add takes, each unless `named` gives it: the
// start (a UTC instant, a whole day as its day), the length in minutes (ENDTIME or
// DURATION give it anew) and WHOLEDAY.
std::vector<std::string> CarriedTimeWords(const AppointmentTimes &times, const std::vector<std::string> &named) {
    if (!times.known) return {};
    std::vector<std::string> words;
    if (!Among(named, "STARTTIME"))
        words.push_back("STARTTIME=" + (times.wholeDay ? AppointmentStartText(times, true) : UtcIso(times.start)));
    if (!Among(named, "ENDTIME") && !Among(named, "DURATION"))
        words.push_back("DURATION=" + std::to_string(times.wholeDay ? WholeDays(times) * 24 * 60 : times.minutes));
    if (!Among(named, "WHOLEDAY")) words.push_back(times.wholeDay ? "WHOLEDAY=TRUE" : "WHOLEDAY=FALSE");
    return words;
}

// Why the old record's field cannot travel into the new one, or "" when it can.
std::string WhyNotCarried(const std::string &type, const std::string &name, const std::string &value,
                          const CutFields &mayBeCut) {
    const std::vector<std::string> addable = AddableFields(type);
    const std::string shown = name == kNicknameOrId ? "NICKNAME" : name;
    if (!Among(addable, shown)) return name + " (the phone's add cannot write it; naming it with no value lets it go)";
    if (value.find('|') != std::string::npos) return name + " (holds '|', which the plug-in's item text cannot carry)";
    for (const auto &[cut, bytes] : mayBeCut)
        if (cut == name)
            return name + " (a read gives " + std::to_string(bytes) + " bytes of it and may have cut it: give it anew)";
    return {};
}

// `words` with the old record's fields they do not name, as an add takes them; the
// fields that cannot be carried refuse the edit, named.
Outcome EditWords(const std::string &type, const ItemFields &old, std::vector<std::string> words,
                  std::vector<std::string> *merged) {
    const std::vector<std::string> named = WordNames(words);
    const CutFields mayBeCut = MayBeCut(type, old);
    std::vector<std::string> lost;
    for (const auto &[name, value] : old) {
        const bool shared = name == kNicknameOrId && (Among(named, "NICKNAME") || Among(named, "GOVERNMENTID"));
        const bool carriedApart = name == "ID" || (type == kAppointmentType && IsTimeField(name));
        if (value.empty() || shared || carriedApart || Among(named, name)) continue;
        if (const std::string why = WhyNotCarried(type, name, value, mayBeCut); !why.empty()) {
            lost.push_back(why);
            continue;
        }
        words.push_back((name == kNicknameOrId ? std::string("NICKNAME") : name) + "=" + value);
    }
    if (!lost.empty()) {
        std::string list;
        for (const std::string &each : lost) list += (list.empty() ? "" : "; ") + each;
        return Outcome::Failed(0, "it would lose " + list + "; nothing was changed", ErrorKind::kBadInput);
    }
    // Named with no value, a field the add cannot write is let go: the edit drops it.
    std::erase_if(words, [&](const std::string &word) {
        const std::string name = AsciiUpper(word.substr(0, word.find('=')));
        return !word.empty() && word.back() == '=' && !Among(AddableFields(type), name);
    });
    if (type == kAppointmentType) {
        const std::vector<std::string> times = CarriedTimeWords(ReadAppointmentTimes(old), named);
        words.insert(words.end(), times.begin(), times.end());
    }
    *merged = std::move(words);
    return Outcome::Ok();
}

// Whether a record read from the phone holds what `kept` says the phone keeps of an add.
bool ReadsAsKept(const std::string &type, const KeptItem &kept, const ItemFields &read) {
    for (const auto &[name, value] : kept.read) {
        if (value.empty() || IsTimeField(name)) continue;
        const auto found =
            std::find_if(read.begin(), read.end(), [&](const auto &field) { return field.first == name; });
        if (found == read.end() || !ReadsAs(type, name, value, found->second)) return false;
    }
    return type != kAppointmentType || ReadAppointmentTimes(read).known;
}
}  // namespace

std::string PimType(const std::string &kind) {
    if (kind == "contacts") return kContactType;
    if (kind == "calendar") return kAppointmentType;
    return kCallKind;
}

Outcome ListPimItems(PhoneSession &session, const std::string &kind, PimListing *listing) {
    const std::string type = PimType(kind);
    Outcome outcome = RefreshListing(session, type);
    if (!outcome.ok) return outcome;
    listing->kind = kind;
    std::vector<ContentItem> items = session.lastListings[type];
    if (kind == "calls")
        std::stable_sort(items.begin(), items.end(),  // newest first
                         [](const ContentItem &a, const ContentItem &b) { return a.startTime > b.startTime; });
    for (const ContentItem &item : items) {
        ListedItem listed;
        listed.item = item;
        if (kind == "contacts") outcome = ReadContactName(session, &listed);
        if (kind == "calendar") outcome = ReadAppointmentListed(session, &listed);
        if (kind == "calls") ReadCallListed(&listed);
        if (!outcome.ok) return outcome;
        listing->items.push_back(std::move(listed));
    }
    return outcome;
}

Outcome ShowPimItem(PhoneSession &session, const std::string &type, const std::string &typedId, ShownItem *shown) {
    ContentItem listed;
    Outcome outcome = FindListed(session, type, typedId, &listed);
    if (outcome.ok) outcome = ReadListedItem(session, type, listed, &shown->fields);
    if (!outcome.ok) return outcome;
    shown->id = listed.id;
    shown->mayBeCut = MayBeCut(type, shown->fields);
    if (type == kAppointmentType) {
        // Start and end from one instant and the duration.
        shown->times = ReadAppointmentTimes(shown->fields);
        std::erase_if(shown->fields, [](const auto &field) { return field.first == "DURATION"; });
        shown->fields.emplace_back("DURATION", std::to_string(shown->times.minutes));
    }
    return outcome;
}

ItemFields ShownFields(const std::string &type, const ShownItem &shown, bool iso) {
    ItemFields fields = shown.fields;
    for (auto &[name, value] : fields) {
        if (name == "BIRTHDAY" || name == "ANNIVERSARY") value = DayOrValue(value);
        if (type != kAppointmentType || !shown.times.known) continue;
        if (name == "STARTTIME") value = AppointmentStartText(shown.times, iso);
        if (name == "ENDTIME") value = AppointmentEndText(shown.times, iso);
    }
    return fields;
}

std::string AppointmentStartText(const AppointmentTimes &times, bool iso) {
    if (!times.known) return "";
    if (times.wholeDay) return DayText(DayOf(times.start, false));
    return iso ? LocalIso(times.start) : LocalText(times.start);
}

std::string AppointmentEndText(const AppointmentTimes &times, bool iso) {
    if (!times.known) return "";
    if (times.wholeDay) return DayText(DayOf(times.start, false) + (WholeDays(times) - 1) * 86400);
    Instant end = times.start + times.minutes * 60;
    return iso ? LocalIso(end) : LocalText(end);
}

Outcome PrepareAdd(const std::string &type, const std::vector<std::string> &words, KeptItem *kept) {
    ItemFields fields;
    Outcome parsed = ParseFields(type, words, &fields);
    if (parsed.ok && type == kAppointmentType) parsed = TranslateAppointment(fields);
    if (!parsed.ok) return parsed;
    *kept = AsThePhoneKeepsIt(type, fields);
    return Outcome::Ok();
}

Outcome AddPimItem(PhoneSession &session, const std::string &type, const KeptItem &kept) {
    return session.link.AddItem(type, ItemText(kept.sent));
}

namespace {

Outcome WithNote(Outcome outcome, const std::string &note) {
    outcome.note = note;
    return outcome;
}

// The record an add made: among those listed now and not `before`, the one that reads
// as `kept`.
Outcome FindAdded(PhoneSession &session, const std::string &type, const std::vector<ContentItem> &before,
                  const KeptItem &kept, std::string *newId) {
    Outcome outcome = RefreshListing(session, type);
    for (const ContentItem &item : outcome.ok ? session.lastListings[type] : std::vector<ContentItem>{}) {
        const bool listedBefore =
            std::any_of(before.begin(), before.end(), [&](const ContentItem &old) { return old.id == item.id; });
        ItemFields fields;
        if (listedBefore || !(outcome = ReadListedItem(session, type, item, &fields)).ok) continue;
        if (!ReadsAsKept(type, kept, fields)) continue;
        *newId = item.id;
        return outcome;
    }
    if (!outcome.ok) return outcome;
    return Outcome::Failed(0, "the phone took the new record but no new one reads back as it was sent",
                           ErrorKind::kPhoneRefused);
}

}  // namespace

Outcome EditPimItem(PhoneSession &session, const std::string &type, const std::string &typedId,
                    const std::vector<std::string> &words, EditedItem *edited) {
    ContentItem listed;
    ItemFields old;
    std::vector<std::string> merged;
    Outcome outcome = FindListed(session, type, typedId, &listed);
    const std::vector<ContentItem> before = session.lastListings[type];
    if (outcome.ok) outcome = ReadListedItem(session, type, listed, &old);
    if (outcome.ok) outcome = EditWords(type, old, words, &merged);
    if (outcome.ok) outcome = PrepareAdd(type, merged, &edited->kept);
    if (!outcome.ok) return outcome;
    edited->oldId = listed.id;
    const std::string oldKept = "the old record (ID " + listed.id + ") is kept unchanged";
    if (outcome = AddPimItem(session, type, edited->kept); !outcome.ok) return WithNote(outcome, oldKept);
    if (outcome = FindAdded(session, type, before, edited->kept, &edited->newId); !outcome.ok)
        return WithNote(outcome, oldKept + "; a new one may be on the phone beside it");
    if (outcome = session.link.DeleteItem(type, listed.id); !outcome.ok)
        return WithNote(outcome, "the edited record was added as ID " + edited->newId + ", but the old one (ID " +
                                     listed.id + ") could not be deleted: both are on the phone");
    std::erase_if(session.lastListings[type], [&](const ContentItem &item) { return item.id == listed.id; });
    return outcome;
}

Outcome RemovePimItem(PhoneSession &session, const std::string &type, const std::string &typedId,
                      std::string *removedId) {
    ContentItem listed;
    Outcome outcome = FindListed(session, type, typedId, &listed);
    if (outcome.ok) outcome = session.link.DeleteItem(type, listed.id);
    if (outcome.ok) *removedId = listed.id;
    return outcome;
}

Outcome ReadNamesByNumber(PhoneSession &session, NamesByNumber *names) {
    std::vector<ItemFields> contacts;
    Outcome outcome = ReadAllItems(session, kContactType, &contacts);
    if (!outcome.ok) return outcome;
    for (const ItemFields &contact : contacts) {
        const std::string name = FormattedName(contact);
        for (const auto &[field, value] : contact) {
            if (!IsNumberField(field) || value.empty()) continue;
            std::vector<std::string> &named = (*names)[NumberForComparing(value)];
            if (std::find(named.begin(), named.end(), name) == named.end()) named.push_back(name);
        }
    }
    return outcome;
}

std::vector<std::string> NamesOfSender(const NamesByNumber &names, const SmsMessage &message) {
    const CutFields cut = MessageMayBeCut(message);
    const bool numberCut =
        std::any_of(cut.begin(), cut.end(), [](const auto &field) { return field.first == "number"; });
    const auto found = names.find(NumberForComparing(message.number));
    if (numberCut || message.number.empty() || found == names.end()) return {};
    return found->second;
}

Outcome FindMessage(PhoneSession &session, bool sent, const std::string &id, SmsMessage *message) {
    std::vector<SmsMessage> messages;
    Outcome outcome = ListMessages(session, sent, &messages);
    if (!outcome.ok) return outcome;
    for (const SmsMessage &candidate : messages)
        if (candidate.id == id) {
            *message = candidate;
            return outcome;
        }
    return Outcome::Failed(0, "no message with ID " + id, ErrorKind::kNotFound);
}

}  // namespace host
