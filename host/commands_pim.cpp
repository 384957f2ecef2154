// PIM data: contacts, calendar and calls listings, item texts, adds, deletes (also of messages).
#include "commands.h"
#include "text.h"

namespace host {
namespace {

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

// IDs belong to the last listing of their kind in this session: list first.
Outcome RefreshListing(Context &context, const std::string &type) {
    std::vector<ContentItem> items;
    Outcome outcome = context.link.Listing(type, &items);
    if (outcome.ok) context.lastListings[type] = items;
    return outcome;
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
    if (outcome.ok && !Listed(context, type, id)) outcome = Outcome::Failed(0, "no item with ID " + id);
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

int CmdPimAdd(Context &context, const std::string &type, const std::vector<std::string> &fields) {
    std::string text;
    for (const std::string &field : fields) {
        if (field.find('=') == std::string::npos || field.find('|') != std::string::npos)
            return context.FailUsage("add: fields are NAME=VALUE without '|': " + field);
        text += (text.empty() ? "" : "||") + field;
    }
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.AddItem(type, TerminalToDevice(text));
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("added\n", {{"added", true}});
    return kExitOk;
}

int CmdPimRemove(Context &context, const std::string &type, const std::string &id) {
    if (int code = context.Connect()) return code;
    Outcome outcome = RefreshListing(context, type);
    if (outcome.ok && !Listed(context, type, id)) outcome = Outcome::Failed(0, "no item with ID " + id);
    if (outcome.ok) outcome = context.link.DeleteItem(type, id);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("removed " + id + "\n", {{"removed", id}});
    return kExitOk;
}

}  // namespace host
