// Text messages: the received and sent listings and one message shown whole.
// Removing one goes the way of every PIM item (CmdPimRemove).
#include "appointment_time.h"
#include "commands.h"
#include "phone_keeps.h"
#include "text.h"

namespace host {
namespace {

nlohmann::json MessageJson(const SmsMessage &message, bool sent) {
    return {{"id", message.id},
            {"box", sent ? "sent" : "recv"},
            {"number", message.number},
            {"time", StampText(message.stamp, true, true)},
            {"text", message.text}};
}

}  // namespace

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
