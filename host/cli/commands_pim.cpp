// PIM data: contacts, calendar and calls listings, item texts, adds, deletes (also of messages).
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "appointment_time.h"

#include "commands.h"
#include "item_text.h"
#include "phone_keeps.h"
#include "text.h"
#include "vcard.h"

namespace host {
namespace {

nlohmann::json ItemJson(const ContentItem &item) {
    nlohmann::json out = {{"id", item.id}, {"title", DeviceToTerminal(item.title)}, {"type", item.type}};
    if (!item.startTime.empty()) out["startTime"] = StampText(item.startTime, false, true);
    for (const auto &[key, value] : item.extras) out[key] = DeviceToTerminal(value);
    return out;
}

// The phone's listing gives a call's name only with its number: a call without a
// number comes with neither.
bool CallNameListed(const ContentItem &call) { return !call.title.empty(); }

CutFields CallMayBeCut(const ContentItem &call) {
    auto [number, name] = CallNumberAndName(call);
    return MayBeCut(kCallKind, {{"number", number}, {"name", name}});
}

std::string CallTableText(const std::vector<ContentItem> &items) {
    Table table({"ID", "KIND", "NUMBER", "NAME", "TIME"});
    bool unlisted = false, marked = false;
    for (const ContentItem &item : items) {
        auto [number, name] = CallNumberAndName(item);
        const CutFields cut = CallMayBeCut(item);
        number = Marked(number, cut, {"number"}, &marked), name = Marked(name, cut, {"name"}, &marked);
        if (!CallNameListed(item)) number = "(none)", name = "(not listed)", unlisted = true;
        table.Add({item.id, CallKind(item), number, name, StampText(item.startTime, false, false)});
    }
    return table.Render() +
           (unlisted ? "calls without a number: the phone's listing gives no name for them\n" : std::string()) +
           (marked ? kMayBeCutFootnote : "");
}

// The fields of a listed item, from its text.
Outcome ReadListedItem(Context &context, const std::string &type, const ContentItem &item, ItemFields *fields) {
    std::string text;
    Outcome outcome = context.link.ItemText(type, item.id, &text);
    if (outcome.ok) *fields = ReadItemText(type, text, item);
    return outcome;
}

// Contacts list by the name people read (the listing gives the phone's composed
// name, LASTNAME directly followed by FIRSTNAME): each contact's text gives it.
int ListContacts(Context &context, const std::vector<ContentItem> &items) {
    Table table({"ID", "NAME"});
    nlohmann::json list = nlohmann::json::array();
    bool marked = false;
    for (const ContentItem &item : items) {
        ItemFields fields;
        if (Outcome outcome = ReadListedItem(context, "phonebook/private", item, &fields); !outcome.ok)
            return context.Fail(outcome);
        std::vector<std::string> from;
        const std::string name = FormattedName(fields, &from);
        ItemFields checked = {{"title", DeviceToTerminal(item.title)}};
        for (const auto &field : fields)
            if (std::find(from.begin(), from.end(), field.first) != from.end()) checked.push_back(field);
        const CutFields cut = MayBeCut("phonebook/private", checked);
        table.Add({item.id, Marked(name, cut, from, &marked)});
        nlohmann::json out = ItemJson(item);
        out["name"] = name;
        out["mayBeCut"] = MayBeCutJson(cut);
        list.push_back(out);
    }
    context.Emit(table.Render() + (marked ? kMayBeCutFootnote : ""), {{"kind", "contacts"}, {"items", list}});
    return kExitOk;
}

// Contact fields the phone gives when read that its add does not write.
const char *const kReadOnlyContactFields[] = {
    "ANNIVERSARY", "BIRTHDAY", "BODY", "CARTELEPHONENUMBER", "CATEGORIES", "COMPANYTELEPHONENUMBER", "SUFFIX", "TITLE"};
// The longest appointment an add takes: a year, in minutes.
constexpr long long kLongestMinutes = 366 * 24 * 60;

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

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
    const std::string upper = Upper(name);
    if (type != "schedule" && std::find(std::begin(kReadOnlyContactFields), std::end(kReadOnlyContactFields), upper) !=
                                  std::end(kReadOnlyContactFields))
        return upper + " is shown when read, but the phone's add cannot write it";
    std::string closest = known.front();
    for (const std::string &candidate : known)
        if (EditDistance(upper, candidate) < EditDistance(upper, closest)) closest = candidate;
    bool close = EditDistance(upper, closest) <= upper.size() / 3;
    return "unknown field '" + name + "'" + (close ? " (did you mean " + closest + "?)" : "");
}

// The known field names of an add, from NAME=VALUE words in any letter case; "" and
// *error when a word is not such a field.
bool ParseFields(const std::string &type, const std::vector<std::string> &words,
                 std::vector<std::pair<std::string, std::string>> *fields, std::string *error) {
    const std::vector<std::string> known = AddableFields(type);
    for (const std::string &word : words) {
        size_t equals = word.find('=');
        if (equals == std::string::npos || word.find('|') != std::string::npos) {
            *error = "fields are NAME=VALUE without '|': " + word;
            return false;
        }
        std::string name = Upper(word.substr(0, equals));
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            *error = UnknownFieldError(type, word.substr(0, equals), known);
            return false;
        }
        if (std::any_of(fields->begin(), fields->end(), [&](const auto &field) { return field.first == name; })) {
            *error = name + " is given twice";
            return false;
        }
        fields->emplace_back(name, word.substr(equals + 1));
    }
    bool anyValue =
        std::any_of(fields->begin(), fields->end(), [](const auto &field) { return !field.second.empty(); });
    if (!anyValue) *error = "no field has a value: nothing to add";
    return anyValue;
}

std::string *FieldValue(std::vector<std::pair<std::string, std::string>> &fields, const char *name) {
    for (auto &[key, value] : fields)
        if (key == name) return &value;
    return nullptr;
}

// Turns typed appointment times into what the plug-in must be given for the phone
// to keep them (see appointment_time.h); false with *error for what cannot be.
bool TranslateAppointment(std::vector<std::pair<std::string, std::string>> &fields, std::string *error) {
    std::string *wholeDayText = FieldValue(fields, "WHOLEDAY");
    bool wholeDay = wholeDayText && Upper(*wholeDayText) == "TRUE";
    if (wholeDayText) {
        if (!wholeDay && Upper(*wholeDayText) != "FALSE") {
            *error = "WHOLEDAY is TRUE or FALSE, not " + *wholeDayText;
            return false;
        }
        *wholeDayText = wholeDay ? "TRUE" : "FALSE";
    }
    std::string *duration = FieldValue(fields, "DURATION");
    if (duration &&
        (duration->empty() || duration->size() > 9 || duration->find_first_not_of("0123456789") != std::string::npos ||
         std::stoll(*duration) > kLongestMinutes)) {
        *error =
            "DURATION is a number of minutes up to " + std::to_string(kLongestMinutes) + " (a year), not " + *duration;
        return false;
    }
    if (duration && FieldValue(fields, "ENDTIME")) {
        *error = "give ENDTIME or DURATION, not both";
        return false;
    }
    Instant times[2] = {0, 0};
    const char *names[2] = {"STARTTIME", "ENDTIME"};
    std::string *values[2] = {FieldValue(fields, names[0]), FieldValue(fields, names[1])};
    for (int i = 0; i < 2; ++i) {
        bool dateOnly = false;
        if (values[i] && !ParseTypedTime(*values[i], &times[i], &dateOnly)) {
            *error = std::string(names[i]) + ": not a time: " + *values[i] +
                     " (2009-06-01 10:00 or 20090601T100000 in local time, ending in Z for UTC; 2009-06-01 for a day)";
            return false;
        }
        // A whole-day appointment keeps days: the end is its last day, inclusive.
        if (values[i] && wholeDay) times[i] = DayOf(times[i], !dateOnly) + (i == 1 ? 86400 : 0);
    }
    if (!values[0]) {
        *error = "STARTTIME is required";
        return false;
    }
    if (values[1] && times[1] < times[0]) {
        *error = "the appointment ends before it starts";
        return false;
    }
    if (values[1] && times[1] - times[0] > kLongestMinutes * 60) {
        *error = "the appointment lasts more than a year";
        return false;
    }
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
    return true;
}

std::string StartText(const AppointmentTimes &times, bool json) {
    if (!times.known) return "";
    if (times.wholeDay) return DayText(DayOf(times.start, false));
    return json ? LocalIso(times.start) : LocalText(times.start);
}

std::string EndText(const AppointmentTimes &times, bool json) {
    if (!times.known) return "";
    if (times.wholeDay) return DayText(DayOf(times.start, false) + (WholeDays(times) - 1) * 86400);
    Instant end = times.start + times.minutes * 60;
    return json ? LocalIso(end) : LocalText(end);
}

std::string DurationText(const AppointmentTimes &times) {
    if (!times.known) return "";
    if (times.wholeDay) return WholeDays(times) == 1 ? "whole day" : std::to_string(WholeDays(times)) + " days";
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(times.minutes / 60),
                  static_cast<long long>(times.minutes % 60));
    return text;
}

// IDs belong to the last listing of their kind in this session: list first.
Outcome RefreshListing(Context &context, const std::string &type) {
    std::vector<ContentItem> items;
    Outcome outcome = context.link.Listing(type, &items);
    if (outcome.ok) context.lastListings[type] = items;
    return outcome;
}

// "no contact with ID 7 (IDs are those `cebridge contacts` lists)".
Outcome NoSuchItem(const std::string &type, const std::string &id) {
    std::string noun = "item", command = "";
    if (type == "phonebook/private") noun = "contact", command = "contacts";
    if (type == "schedule") noun = "appointment", command = "calendar";
    if (type.find("smsdata/") == 0) noun = "message", command = type == "smsdata/send" ? "sms sent" : "sms";
    return Outcome::Failed(0, "no " + noun + " with ID " + id + " (IDs are those `cebridge " + command + "` lists)");
}

// The listing's own spelling of `id`, in any letter case (IDs are hexadecimal);
// false when the listing lacks it.
bool Listed(Context &context, const std::string &type, std::string *id) {
    for (const ContentItem &item : context.lastListings[type]) {
        if (Upper(item.id) != Upper(*id)) continue;
        *id = item.id;
        return true;
    }
    return false;
}

// "19710202T000000Z" as the day "1971-02-02"; a street's further lines indented under
// its first, so that every field starts a line "NAME: value".
std::string ShownValue(const std::string &name, const std::string &value) {
    Instant day = 0;
    if ((name == "BIRTHDAY" || name == "ANNIVERSARY") && ParseStamp(value, false, &day)) return DayText(day);
    std::string shown, indent(name.size() + 2, ' ');
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
        shown += value[i] == '\r' || value[i] == '\n' ? "\n" + indent : std::string(1, value[i]);
    }
    return shown;
}

}  // namespace

namespace {

void AddTimes(nlohmann::json &out, const AppointmentTimes &times) {
    if (!times.known) return;
    out["start"] = StartText(times, true);
    out["end"] = EndText(times, true);
    out["duration"] = times.minutes;
    out["wholeDay"] = times.wholeDay;
}

// The listing carries no times: each appointment's text does.
int ListAppointments(Context &context, const std::vector<ContentItem> &items) {
    Table table({"ID", "START", "DURATION", "TITLE"});
    nlohmann::json list = nlohmann::json::array();
    bool marked = false;
    for (const ContentItem &item : items) {
        ItemFields fields;
        if (Outcome outcome = ReadListedItem(context, "schedule", item, &fields); !outcome.ok)
            return context.Fail(outcome);
        AppointmentTimes times = ReadAppointmentTimes(fields);
        const std::string title = DeviceToTerminal(item.title);
        const CutFields cut = MayBeCut("schedule", {{"title", title}});
        table.Add({item.id, StartText(times, false), DurationText(times), Marked(title, cut, {"title"}, &marked)});
        nlohmann::json out = ItemJson(item);
        AddTimes(out, times);
        out["mayBeCut"] = MayBeCutJson(cut);
        list.push_back(out);
    }
    context.Emit(table.Render() + (marked ? kMayBeCutFootnote : ""), {{"kind", "calendar"}, {"items", list}});
    return kExitOk;
}

}  // namespace

int CmdPimList(Context &context, const std::string &kind, const std::string &type) {
    if (int code = context.Connect()) return code;
    Outcome outcome = RefreshListing(context, type);
    if (!outcome.ok) return context.Fail(outcome);
    std::vector<ContentItem> items = context.lastListings[type];
    if (kind == "calendar") return ListAppointments(context, items);
    if (kind == "contacts") return ListContacts(context, items);
    std::stable_sort(items.begin(), items.end(),  // calls, newest first
                     [](const ContentItem &a, const ContentItem &b) { return a.startTime > b.startTime; });
    nlohmann::json list = nlohmann::json::array();
    for (const ContentItem &item : items) {
        list.push_back(ItemJson(item));
        std::tie(list.back()["number"], list.back()["name"]) = CallNumberAndName(item);
        list.back()["nameListed"] = CallNameListed(item);
        list.back()["mayBeCut"] = MayBeCutJson(CallMayBeCut(item));
    }
    context.Emit(CallTableText(items), {{"kind", kind}, {"items", list}});
    return kExitOk;
}

int CmdPimShow(Context &context, const std::string &type, const std::string &typedId) {
    if (int code = context.Connect()) return code;
    std::string id = typedId;
    Outcome outcome = RefreshListing(context, type);
    if (outcome.ok && !Listed(context, type, &id)) outcome = NoSuchItem(type, id);
    std::string text;
    if (outcome.ok) outcome = context.link.ItemText(type, id, &text);
    if (!outcome.ok) return context.Fail(outcome);
    ContentItem listed;
    for (const ContentItem &item : context.lastListings[type])
        if (item.id == id) listed = item;
    ItemFields pairs = ReadItemText(type, text, listed);
    const auto mayBeCut = MayBeCut(type, pairs);
    std::vector<std::pair<std::string, std::string>> jsonPairs = pairs;
    if (type == "schedule") {
        // Times as PC local time, start and end from one instant and the duration.
        AppointmentTimes times = ReadAppointmentTimes(pairs);
        std::erase_if(pairs, [](const auto &pair) { return pair.first == "DURATION"; });
        pairs.emplace_back("DURATION", std::to_string(times.minutes));
        jsonPairs = pairs;
        for (size_t i = 0; times.known && i < pairs.size(); ++i) {
            if (pairs[i].first == "STARTTIME")
                pairs[i].second = StartText(times, false), jsonPairs[i].second = StartText(times, true);
            if (pairs[i].first == "ENDTIME")
                pairs[i].second = EndText(times, false), jsonPairs[i].second = EndText(times, true);
        }
    }
    std::string shown;
    for (auto &[name, value] : jsonPairs)
        if (name == "BIRTHDAY" || name == "ANNIVERSARY") value = ShownValue(name, value);
    for (const auto &[name, value] : pairs) shown += name + ": " + ShownValue(name, value) + "\n";
    if (!mayBeCut.empty()) shown += kMayBeCutIntro + MayBeCutText(mayBeCut) + "\n";
    nlohmann::json fields = nlohmann::json::object();
    for (const auto &[name, value] : jsonPairs) fields[name] = value;
    context.Emit(shown, {{"id", id}, {"fields", fields}, {"mayBeCut", MayBeCutJson(mayBeCut)}});
    return kExitOk;
}

int CmdPimAdd(Context &context, const std::string &type, const std::vector<std::string> &words) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string error;
    if (!ParseFields(type, words, &fields, &error) || (type == "schedule" && !TranslateAppointment(fields, &error)))
        return context.FailUsage("add: " + error);
    const KeptItem kept = AsThePhoneKeepsIt(type, fields);
    std::string text;
    for (const auto &[name, value] : kept.sent) text += (text.empty() ? "" : "||") + name + "=" + value;
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.AddItem(type, TerminalToDevice(text));
    if (!outcome.ok) return context.Fail(outcome);
    std::string shown = "added\n";
    nlohmann::json changes = nlohmann::json::array();
    for (const FieldChange &change : kept.changes) {
        shown += "  " + change.Text() + "\n";
        changes.push_back(change.Json());
    }
    context.Emit(shown, {{"added", true}, {"changes", changes}});
    return kExitOk;
}

int CmdPimRemove(Context &context, const std::string &type, const std::string &typedId) {
    if (int code = context.Connect()) return code;
    std::string id = typedId;
    Outcome outcome = RefreshListing(context, type);
    if (outcome.ok && !Listed(context, type, &id)) outcome = NoSuchItem(type, id);
    if (outcome.ok) outcome = context.link.DeleteItem(type, id);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("removed " + id + "\n", {{"removed", id}});
    return kExitOk;
}

}  // namespace host
