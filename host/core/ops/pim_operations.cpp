#include "pim_operations.h"

#include <algorithm>
#include <iterator>

#include "encoding.h"
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

Outcome RemovePimItem(PhoneSession &session, const std::string &type, const std::string &typedId,
                      std::string *removedId) {
    ContentItem listed;
    Outcome outcome = FindListed(session, type, typedId, &listed);
    if (outcome.ok) outcome = session.link.DeleteItem(type, listed.id);
    if (outcome.ok) *removedId = listed.id;
    return outcome;
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
