// Text messages: the received and sent listings and one message shown whole.
// Removing one goes the way of every PIM item (CmdPimRemove).
#include "appointment_time.h"
#include "commands.h"
#include "phone_keeps.h"
#include "pim_operations.h"
#include "pim_results.h"
#include "text.h"

namespace host {

int CmdSmsList(Context &context, bool sent) {
    if (int code = context.Connect()) return code;
    std::vector<SmsMessage> messages;
    Outcome outcome = ListMessages(context, sent, &messages);
    if (!outcome.ok) return context.Fail(outcome);
    Table table({"ID", sent ? "TO" : "FROM", "TIME", "MESSAGE"});
    table.FitTo(TerminalColumns());
    bool marked = false;
    for (const SmsMessage &message : messages) {
        const CutFields cut = MessageMayBeCut(message);
        table.Add({message.id, Marked(message.number, cut, {"number"}, &marked), StampText(message.stamp, true, false),
                   Marked(message.text, cut, {"text"}, &marked)});
    }
    context.Emit(table.Render() + (marked ? kMayBeCutFootnote : ""), MessageListJson(messages, sent));
    return kExitOk;
}

int CmdSmsShow(Context &context, bool sent, const std::string &id) {
    if (int code = context.Connect()) return code;
    SmsMessage message;
    Outcome outcome = FindMessage(context, sent, id, &message);
    if (!outcome.ok) return context.Fail(outcome);
    std::string shown = "ID: " + message.id + "\n" + (sent ? "To: " : "From: ") + message.number + "\n" +
                        "Time: " + StampText(message.stamp, true, false) + "\n" + "Text: " + message.text + "\n";
    const auto mayBeCut = MessageMayBeCut(message);
    if (!mayBeCut.empty()) shown += kMayBeCutIntro + MayBeCutText(mayBeCut) + "\n";
    context.Emit(shown, MessageJson(message, sent));
    return kExitOk;
}

}  // namespace host
