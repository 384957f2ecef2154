#include "pim_results.h"

#include "appointment_time.h"
#include "encoding.h"

namespace host {
namespace {

nlohmann::json ContentItemJson(const ContentItem &item) {
    nlohmann::json out = {{"id", item.id}, {"title", DeviceToTerminal(item.title)}, {"type", item.type}};
    if (!item.startTime.empty()) out["startTime"] = StampText(item.startTime, false, true);
    for (const auto &[key, value] : item.extras) out[key] = DeviceToTerminal(value);
    return out;
}

nlohmann::json ListedItemJson(const std::string &kind, const ListedItem &listed) {
    nlohmann::json out = ContentItemJson(listed.item);
    if (kind == "contacts") out["name"] = listed.name, out["numbers"] = listed.numbers;
    if (kind == "calendar" && listed.times.known) {
        out["start"] = AppointmentStartText(listed.times, true);
        out["end"] = AppointmentEndText(listed.times, true);
        out["duration"] = listed.times.minutes;
        out["wholeDay"] = listed.times.wholeDay;
    }
    if (kind == "calls") {
        out["number"] = listed.number;
        out["name"] = listed.name;
        out["nameListed"] = listed.nameListed;
    }
    out["mayBeCut"] = MayBeCutJson(listed.mayBeCut);
    return out;
}

nlohmann::json ChangesJson(const KeptItem &kept) {
    nlohmann::json changes = nlohmann::json::array();
    for (const FieldChange &change : kept.changes) changes.push_back(change.Json());
    return changes;
}

}  // namespace

nlohmann::json PimListingJson(const PimListing &listing) {
    nlohmann::json items = nlohmann::json::array();
    for (const ListedItem &listed : listing.items) items.push_back(ListedItemJson(listing.kind, listed));
    return {{"kind", listing.kind}, {"items", items}};
}

nlohmann::json ShownItemJson(const std::string &type, const ShownItem &shown) {
    nlohmann::json fields = nlohmann::json::object();
    for (const auto &[name, value] : ShownFields(type, shown, true)) fields[name] = value;
    return {{"id", shown.id}, {"fields", fields}, {"mayBeCut", MayBeCutJson(shown.mayBeCut)}};
}

nlohmann::json AddedJson(const KeptItem &kept) { return {{"added", true}, {"changes", ChangesJson(kept)}}; }

nlohmann::json EditedJson(const EditedItem &edited) {
    return {{"edited", edited.oldId}, {"id", edited.newId}, {"changes", ChangesJson(edited.kept)}};
}

nlohmann::json RemovedJson(const std::string &id) { return {{"removed", id}}; }

nlohmann::json MessageJson(const SmsMessage &message, bool sent) {
    return {{"id", message.id},         {"box", sent ? "sent" : "recv"},
            {"number", message.number}, {"time", StampText(message.stamp, true, true)},
            {"text", message.text},     {"mayBeCut", MayBeCutJson(MessageMayBeCut(message))}};
}

nlohmann::json MessageListJson(const std::vector<SmsMessage> &messages, bool sent, const NamesByNumber *names) {
    nlohmann::json items = nlohmann::json::array();
    for (const SmsMessage &message : messages) {
        items.push_back(MessageJson(message, sent));
        if (names) items.back()["names"] = NamesOfSender(*names, message);
    }
    return {{"kind", "sms"}, {"box", sent ? "sent" : "recv"}, {"items", items}};
}

nlohmann::json ExportResultJson(const std::string &kind, const std::string &path, const InteropReport &report) {
    return {{"kind", kind}, {"file", path}, {"written", report.written}, {"mayBeCut", report.mayBeCut}};
}

nlohmann::json ImportResultJson(const std::string &kind, const std::string &path, const InteropReport &report) {
    return {{"kind", kind},
            {"file", path},
            {"added", report.added},
            {"skipped", report.skipped},
            {"refused", report.refused},
            {"notes", report.notes},
            {"items", report.items}};
}

}  // namespace host
