// PIM data: contacts, calendar and calls listings, item texts, adds, deletes (also
// of messages), as tables and text; the core's pim_operations.h does the work.
#include <cstdio>

#include "commands.h"
#include "pim_operations.h"
#include "pim_results.h"
#include "text.h"

namespace host {
namespace {

std::string ContactTableText(const PimListing &listing) {
    Table table({"ID", "NAME"});
    bool marked = false;
    for (const ListedItem &listed : listing.items)
        table.Add({listed.item.id, Marked(listed.name, listed.mayBeCut, listed.nameFrom, &marked)});
    return table.Render() + (marked ? kMayBeCutFootnote : "");
}

std::string DurationText(const AppointmentTimes &times) {
    if (!times.known) return "";
    if (times.wholeDay) return WholeDays(times) == 1 ? "whole day" : std::to_string(WholeDays(times)) + " days";
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(times.minutes / 60),
                  static_cast<long long>(times.minutes % 60));
    return text;
}

std::string AppointmentTableText(const PimListing &listing) {
    Table table({"ID", "START", "DURATION", "TITLE"});
    bool marked = false;
    for (const ListedItem &listed : listing.items)
        table.Add({listed.item.id, AppointmentStartText(listed.times, false), DurationText(listed.times),
                   Marked(DeviceToTerminal(listed.item.title), listed.mayBeCut, {"title"}, &marked)});
    return table.Render() + (marked ? kMayBeCutFootnote : "");
}

std::string CallTableText(const PimListing &listing) {
    Table table({"ID", "KIND", "NUMBER", "NAME", "TIME"});
    bool unlisted = false, marked = false;
    for (const ListedItem &listed : listing.items) {
        std::string number = Marked(listed.number, listed.mayBeCut, {"number"}, &marked);
        std::string name = Marked(listed.name, listed.mayBeCut, {"name"}, &marked);
        if (!listed.nameListed) number = "(none)", name = "(not listed)", unlisted = true;
        table.Add(
            {listed.item.id, CallKind(listed.item), number, name, StampText(listed.item.startTime, false, false)});
    }
    return table.Render() +
           (unlisted ? "calls without a number: the phone's listing gives no name for them\n" : std::string()) +
           (marked ? kMayBeCutFootnote : "");
}

// A street's further lines indented under its first, so that every field starts a
// line "NAME: value".
std::string ShownValue(const std::string &name, const std::string &value) {
    std::string shown, indent(name.size() + 2, ' ');
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
        shown += value[i] == '\r' || value[i] == '\n' ? "\n" + indent : std::string(1, value[i]);
    }
    return shown;
}

}  // namespace

int CmdPimList(Context &context, const std::string &kind) {
    if (int code = context.Connect()) return code;
    PimListing listing;
    Outcome outcome = ListPimItems(context, kind, &listing);
    if (!outcome.ok) return context.Fail(outcome);
    const std::string table = kind == "contacts"   ? ContactTableText(listing)
                              : kind == "calendar" ? AppointmentTableText(listing)
                                                   : CallTableText(listing);
    context.Emit(table, PimListingJson(listing));
    return kExitOk;
}

int CmdPimShow(Context &context, const std::string &type, const std::string &typedId) {
    if (int code = context.Connect()) return code;
    ShownItem shown;
    Outcome outcome = ShowPimItem(context, type, typedId, &shown);
    if (!outcome.ok) return context.Fail(outcome);
    std::string text;
    for (const auto &[name, value] : ShownFields(type, shown, false))
        text += name + ": " + ShownValue(name, value) + "\n";
    if (!shown.mayBeCut.empty()) text += kMayBeCutIntro + MayBeCutText(shown.mayBeCut) + "\n";
    context.Emit(text, ShownItemJson(type, shown));
    return kExitOk;
}

int CmdPimAdd(Context &context, const std::string &type, const std::vector<std::string> &words) {
    KeptItem kept;
    if (Outcome prepared = PrepareAdd(type, words, &kept); !prepared.ok) return context.FailOperation("add", prepared);
    if (int code = context.LockPhoneForPimWriting(type + " add")) return code;
    if (int code = context.Connect()) return code;
    Outcome outcome = AddPimItem(context, type, kept);
    if (!outcome.ok) return context.Fail(outcome);
    std::string shown = "added\n";
    for (const FieldChange &change : kept.changes) shown += "  " + change.Text() + "\n";
    context.Emit(shown, AddedJson(kept));
    return kExitOk;
}

int CmdPimEdit(Context &context, const std::string &type, const std::string &typedId,
               const std::vector<std::string> &words) {
    if (int code = context.LockPhoneForPimWriting(type + " edit")) return code;
    if (int code = context.Connect()) return code;
    EditedItem edited;
    Outcome outcome = EditPimItem(context, type, typedId, words, &edited);
    if (!outcome.ok) return context.FailOperation("edit", outcome);
    std::string shown = "edited " + edited.oldId + ": now " + edited.newId + "\n";
    for (const FieldChange &change : edited.kept.changes) shown += "  " + change.Text() + "\n";
    context.Emit(shown, EditedJson(edited));
    return kExitOk;
}

int CmdPimRemove(Context &context, const std::string &type, const std::string &typedId) {
    if (int code = context.LockPhoneForPimWriting(type + " rm")) return code;
    if (int code = context.Connect()) return code;
    std::string id;
    Outcome outcome = RemovePimItem(context, type, typedId, &id);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("removed " + id + "\n", RemovedJson(id));
    return kExitOk;
}

}  // namespace host
