// PIM data: contacts, calendar, calls and sms listings, item texts, adds, deletes.
#include <algorithm>

#include "commands.h"
#include "text.h"

namespace host {
namespace {

std::string Extra(const ContentItem &item, const std::string &name) {
    for (const auto &[key, value] : item.extras)
        if (key == name) return value;
    return {};
}

// "callhistory/recv" -> "recv".
std::string Kind(const std::string &type) {
    size_t slash = type.find('/');
    return slash == std::string::npos ? type : type.substr(slash + 1);
}

nlohmann::json ItemJson(const ContentItem &item) {
    nlohmann::json out = {{"id", item.id}, {"title", DeviceToTerminal(item.title)}, {"type", item.type}};
    if (!item.startTime.empty()) out["startTime"] = ListingTimeToLocal(item.startTime);
    for (const auto &[key, value] : item.extras) out[key] = DeviceToTerminal(value);
    return out;
}

Table CallTable(const std::vector<ContentItem> &items) {
    Table table({"ID", "KIND", "NUMBER", "NAME", "TIME"});
    for (const ContentItem &item : items) {
        std::string title = DeviceToTerminal(item.title);
        size_t split = title.find(';');
        std::string number = title.substr(0, split);
        std::string name = split == std::string::npos ? "" : title.substr(split + 1);
        table.Add({item.id, Kind(item.type), number, name, ListingTimeToLocal(item.startTime)});
    }
    return table;
}

Table MessageTable(const std::vector<ContentItem> &items) {
    Table table({"ID", "PARTY", "TIME", "MESSAGE"});
    for (const ContentItem &item : items)
        table.Add({item.id, DeviceToTerminal(item.title), Extra(item, "DateTime"), DeviceToTerminal(Extra(item, "Message"))});
    return table;
}

// The item text "A=1||B=2" as ordered pairs; items without '=' are left out.
std::vector<std::pair<std::string, std::string>> SplitItemText(const std::string &text) {
    std::vector<std::pair<std::string, std::string>> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("||", start);
        std::string item = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t equals = item.find('=');
        if (equals != std::string::npos) fields.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return fields;
}

// The fields an add writes to the phone: what a contact or appointment text may name.
const char *const kContactFields[] = {
    "ASSISTANTNAME", "ASSISTANTTELEPHONENUMBER", "BUSINESSFAXNUMBER", "CHILDREN", "COMPANYNAME", "DEPARTMENT",
    "EMAIL1ADDRESS", "EMAIL2ADDRESS", "EMAIL3ADDRESS", "FIRSTNAME", "HOMEADDRESSSTATE", "HOMEADDRESSCOUNTRY",
    "HOMEADDRESSPOSTALCODE", "HOMEADDRESSCITY", "HOMEADDRESSSTREET", "HOMETELEPHONENUMBER", "HOME2TELEPHONENUMBER",
    "MOBILETELEPHONENUMBER", "BUSINESSADDRESSSTATE", "BUSINESSADDRESSCOUNTRY", "BUSINESSADDRESSPOSTALCODE",
    "BUSINESSADDRESSCITY", "BUSINESSADDRESSSTREET", "OFFICELOCATION", "BUSINESSTELEPHONENUMBER",
    "BUSINESS2TELEPHONENUMBER", "OTHERADDRESSSTATE", "OTHERADDRESSCOUNTRY", "OTHERADDRESSPOSTALCODE",
    "OTHERADDRESSCITY", "OTHERADDRESSSTREET", "PAGERNUMBER", "SPOUSE", "LASTNAME", "JOBTITLE", "WEBPAGE",
    "RADIOTELEPHONENUMBER", "MANAGER", "IM1ADDRESS", "NICKNAME", "GOVERNMENTID"};
const char *const kAppointmentFields[] = {"TITLE", "LOCATION", "STARTTIME", "ENDTIME", "WHOLEDAY", "DURATION"};

std::vector<std::string> KnownFields(const std::string &type) {
    if (type == "schedule") return {std::begin(kAppointmentFields), std::end(kAppointmentFields)};
    return {std::begin(kContactFields), std::end(kContactFields)};
}

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

// The known field names of an add, from NAME=VALUE words in any letter case; "" and
// *error when a word is not such a field.
bool ParseFields(const std::string &type, const std::vector<std::string> &words,
                 std::vector<std::pair<std::string, std::string>> *fields, std::string *error) {
    const std::vector<std::string> known = KnownFields(type);
    for (const std::string &word : words) {
        size_t equals = word.find('=');
        if (equals == std::string::npos || word.find('|') != std::string::npos) {
            *error = "fields are NAME=VALUE without '|': " + word;
            return false;
        }
        std::string name = Upper(word.substr(0, equals));
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::string closest = known.front();
            for (const std::string &candidate : known)
                if (EditDistance(name, candidate) < EditDistance(name, closest)) closest = candidate;
            *error = "unknown field '" + word.substr(0, equals) + "' (did you mean " + closest + "?)";
            return false;
        }
        fields->emplace_back(name, word.substr(equals + 1));
    }
    bool anyValue = std::any_of(fields->begin(), fields->end(), [](const auto &field) { return !field.second.empty(); });
    if (!anyValue) *error = "no field has a value: nothing to add";
    return anyValue;
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

bool Listed(Context &context, const std::string &type, const std::string &id) {
    for (const ContentItem &item : context.lastListings[type])
        if (item.id == id) return true;
    return false;
}

}  // namespace

int CmdPimList(Context &context, const std::string &kind, const std::string &type) {
    if (int code = context.Connect()) return code;
    Outcome outcome = RefreshListing(context, type);
    if (!outcome.ok) return context.Fail(outcome);
    const std::vector<ContentItem> &items = context.lastListings[type];
    Table table({"ID", kind == "calendar" ? "TITLE" : "NAME"});
    if (kind == "calls") table = CallTable(items);
    if (kind == "sms") table = MessageTable(items);
    if (kind == "contacts" || kind == "calendar")
        for (const ContentItem &item : items) table.Add({item.id, DeviceToTerminal(item.title)});
    nlohmann::json list = nlohmann::json::array();
    for (const ContentItem &item : items) list.push_back(ItemJson(item));
    context.Emit(table.Render(), {{"kind", kind}, {"items", list}});
    return kExitOk;
}

int CmdPimShow(Context &context, const std::string &type, const std::string &id) {
    if (int code = context.Connect()) return code;
    Outcome outcome = RefreshListing(context, type);
    if (outcome.ok && !Listed(context, type, id)) outcome = NoSuchItem(type, id);
    std::string text;
    if (outcome.ok) outcome = context.link.ItemText(type, id, &text);
    if (!outcome.ok) return context.Fail(outcome);
    std::string shown;
    nlohmann::json fields = nlohmann::json::object();
    for (const auto &[name, value] : SplitItemText(DeviceToTerminal(text))) {
        shown += name + ": " + value + "\n";
        fields[name] = value;
    }
    context.Emit(shown, {{"id", id}, {"fields", fields}});
    return kExitOk;
}

int CmdPimAdd(Context &context, const std::string &type, const std::vector<std::string> &words) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string error;
    if (!ParseFields(type, words, &fields, &error)) return context.FailUsage("add: " + error);
    std::string text;
    for (const auto &[name, value] : fields) text += (text.empty() ? "" : "||") + name + "=" + value;
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.AddItem(type, TerminalToDevice(text));
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("added\n", {{"added", true}});
    return kExitOk;
}

int CmdPimRemove(Context &context, const std::string &type, const std::string &id) {
    if (int code = context.Connect()) return code;
    Outcome outcome = RefreshListing(context, type);
    if (outcome.ok && !Listed(context, type, id)) outcome = NoSuchItem(type, id);
    if (outcome.ok) outcome = context.link.DeleteItem(type, id);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("removed " + id + "\n", {{"removed", id}});
    return kExitOk;
}

}  // namespace host
