// Text messages: the received and sent listings and one message shown whole.
// Removing one goes the way of every PIM item (CmdPimRemove).
#include "appointment_time.h"
#include "commands.h"
#include "phone_keeps.h"
#include "text.h"

namespace host {
namespace {

std::string Extra(const ContentItem &item, const std::string &name) {
    for (const auto &[key, value] : item.extras)
        if (key == name) return value;
    return {};
}

// The listing's party is the Title; the plug-in gives the date and time in PC local time.
SmsMessage FromItem(const ContentItem &item) {
    return {item.id, DeviceToTerminal(item.title), Extra(item, "DateTime"), DeviceToTerminal(Extra(item, "Message"))};
}

nlohmann::json MessageJson(const SmsMessage &message, bool sent) {
    return {{"id", message.id},
            {"box", sent ? "sent" : "recv"},
            {"number", message.number},
            {"time", StampText(message.stamp, true, true)},
            {"text", message.text}};
}

}  // namespace

std::vector<std::pair<std::string, size_t>> MessageMayBeCut(const SmsMessage &message) {
    return MayBeCut(kMessageKind, {{"number", message.number}, {"text", message.text}});
}

std::string SmsType(bool sent) { return sent ? "smsdata/send" : "smsdata/recv"; }

// IDs belong to the last listing of their box in this session.
Outcome ListMessages(Context &context, bool sent, std::vector<SmsMessage> *messages) {
    const std::string type = SmsType(sent);
    std::vector<ContentItem> items;
    Outcome outcome = context.link.Listing(type, &items);
    if (!outcome.ok) return outcome;
    context.lastListings[type] = items;
    for (const ContentItem &item : items) messages->push_back(FromItem(item));
    return outcome;
}

int CmdSmsList(Context &context, bool sent) {
    if (int code = context.Connect()) return code;
    std::vector<SmsMessage> messages;
    Outcome outcome = ListMessages(context, sent, &messages);
    if (!outcome.ok) return context.Fail(outcome);
    Table table({"ID", sent ? "TO" : "FROM", "TIME", "MESSAGE"});
    table.FitTo(TerminalColumns());
    nlohmann::json items = nlohmann::json::array();
    bool marked = false;
    for (const SmsMessage &message : messages) {
        const CutFields cut = MessageMayBeCut(message);
        table.Add({message.id, Marked(message.number, cut, {"number"}, &marked), StampText(message.stamp, true, false),
                   Marked(message.text, cut, {"text"}, &marked)});
        items.push_back(MessageJson(message, sent));
        items.back()["mayBeCut"] = MayBeCutJson(cut);
    }
    context.Emit(table.Render() + (marked ? kMayBeCutFootnote : ""),
                 {{"kind", "sms"}, {"box", sent ? "sent" : "recv"}, {"items", items}});
    return kExitOk;
}

int CmdSmsShow(Context &context, bool sent, const std::string &id) {
    if (int code = context.Connect()) return code;
    std::vector<SmsMessage> messages;
    Outcome outcome = ListMessages(context, sent, &messages);
    if (!outcome.ok) return context.Fail(outcome);
    for (const SmsMessage &message : messages) {
        if (message.id != id) continue;
        std::string shown = "ID: " + message.id + "\n" + (sent ? "To: " : "From: ") + message.number + "\n" +
                            "Time: " + StampText(message.stamp, true, false) + "\n" + "Text: " + message.text + "\n";
        const auto mayBeCut = MessageMayBeCut(message);
        if (!mayBeCut.empty()) shown += kMayBeCutIntro + MayBeCutText(mayBeCut) + "\n";
        nlohmann::json out = MessageJson(message, sent);
        out["mayBeCut"] = MayBeCutJson(mayBeCut);
        context.Emit(shown, out);
        return kExitOk;
    }
    return context.Fail(Outcome::Failed(0, "no message with ID " + id));
}

}  // namespace host
