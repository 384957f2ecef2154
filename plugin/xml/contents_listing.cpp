// The contents-listing document: one Content element per record of a call list,
// contacts, schedule, SMS or installed-packages listing; and the small building
// blocks every document builder shares.
#include "xml/xml.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/session.h"
#include "pim/pim.h"

namespace {

// The record `record` points to, or a blank one when it is missing.
template <typename Record>
const Record &RecordOrBlank(const void *record) {
    static const Record blank{};
    return record ? *static_cast<const Record *>(record) : blank;
}

void AddTextElementIfNotEmpty(XmlNodeRef parent, const char *name, const std::string &text) {
    if (!text.empty()) AddTextElement(parent, name, text.c_str());
}

// The parts every PIM Content starts with: ID, Title, Group and Type.
void AddPimHeader(XmlNodeRef content, const std::string &id, const std::string &title, const char *group,
                  const char *type) {
    AddTextElementIfNotEmpty(content, "ID", id);
    AddTextElementIfNotEmpty(content, "Title", title);
    AddTextElement(content, "Group", group);
    AddTextElement(content, "Type", type);
}

bool AppendPackage(XmlNodeRef content, const PackageInfo *package) {
    if (!package || package->applicationId[0] == 0) return false;
    AddTextElement(content, "ID", FieldText(package->applicationId).c_str());
    AddTextElement(content, "Group", "WG-REGISTRY");
    AddTextElementIfNotEmpty(content, "Version", FieldText(package->version));
    return true;
}

void AppendContact(XmlNodeRef content, const ContactRecord &contact) {
    AddPimHeader(content, FieldText(contact.ID), FieldText(contact.composedName), "TRG-PHONEBOOK/PRIVATE",
                 "phonebook/private");
}

void AppendAppointment(XmlNodeRef content, const AppointmentRecord &appointment) {
    AddPimHeader(content, FieldText(appointment.ID), FieldText(appointment.TITLE), "TRG-SCHEDULE", "schedule");
}

// The call's Type text by its call type, compared as whole texts.
const char *CallTypeText(const std::string &callType) {
    static const struct {
        const char *longCode;
        const char *shortCode;
        const char *type;
    } kCallTypes[] = {
        {"2055", "7", "callhistory/sent"},
        {"2053", "5", "callhistory/callfail"},
        {"2054", "6", "callhistory/recv"},
        {"2052", "4", "callhistory/miss"},
    };
    for (const auto &entry : kCallTypes) {
        if (callType == entry.longCode || callType == entry.shortCode) return entry.type;
    }
    return "callhistory/unknown";
}

// "number;name", or the number alone; nothing without a number. Formed in 64
// characters: the agent reads the title in a field of that size.
std::string CallTitle(const CallRecord &call) {
    const std::string number = FieldText(call.number);
    const std::string name = FieldText(call.name);
    if (number.empty()) return std::string();
    char title[64];
    if (name.empty()) {
        std::snprintf(title, sizeof title, "%s", number.c_str());
    } else {
        std::snprintf(title, sizeof title, "%s;%s", number.c_str(), name.c_str());
    }
    return title;
}

void AppendCall(XmlNodeRef content, const CallRecord &call) {
    AddPimHeader(content, FieldText(call.ID), CallTitle(call), "TRG-CALLLIST", CallTypeText(FieldText(call.callType)));
    AddTextElement(content, "StartTime", FieldText(call.startTime).c_str());
}

void AppendMessage(XmlNodeRef content, const MessageRecord &message, bool received) {
    const std::string party = FieldText(message.party);
    const std::string dateTime = FieldText(message.dateTime);
    const std::string text = FieldText(message.text);
    AddPimHeader(content, FieldText(message.ID), party, "TRG-SMSDATA", received ? "smsdata/recv" : "smsdata/send");
    if (!party.empty()) AddExtPair(content, received ? "Sender" : "Receiver", party.c_str());
    if (!dateTime.empty()) AddExtPair(content, "DateTime", dateTime.c_str());
    if (!text.empty()) {
        // The message is a CDATA section, so the serializer does not inline it.
        XmlNodeRef ext = AddElement(content, "Ext");
        AddTextElement(ext, "XNam", "Message");
        AddElement(ext, "XVal").add_child(node_cdata).set_value(text.c_str());
    }
}

}  // namespace

XmlNodeRef AddElement(XmlNodeRef parent, const char *name) {
    XmlNodeRef element = parent.add_child(node_element);
    element.set_name(name);
    return element;
}

XmlNodeRef AddTextElement(XmlNodeRef parent, const char *name, const char *text) {
    XmlNodeRef element = AddElement(parent, name);
    XmlNodeRef textNode = element.add_child(node_pcdata);
    if (text) textNode.set_value(text);
    return element;
}

XmlNodeRef AddExtPair(XmlNodeRef parent, const char *name, const char *value) {
    XmlNodeRef ext = AddElement(parent, "Ext");
    AddTextElement(ext, "XNam", name);
    AddTextElement(ext, "XVal", value);
    return ext;
}

XmlNodeRef StartContentsListing(XmlTree &tree) {
    XmlNodeRef document = tree.document();
    if (document.empty()) return XmlNodeRef();
    XmlNodeRef declaration = document.add_child(node_pi);
    declaration.set_name("xml");
    declaration.add_attribute("version", "1.0");
    XmlNodeRef root = AddElement(document, "Contents-listing");
    root.attribute("Version") = "1.0";
    return root;
}

bool AppendContentElement(XmlNodeRef parent, const void *record, uint32_t kind) {
    XmlNodeRef content = AddElement(parent, "Content");
    switch (kind) {
    case KIND_PACKAGE: return AppendPackage(content, static_cast<const PackageInfo *>(record));
    case KIND_CONTACTS: AppendContact(content, RecordOrBlank<ContactRecord>(record)); return true;
    case KIND_APPOINTMENTS: AppendAppointment(content, RecordOrBlank<AppointmentRecord>(record)); return true;
    case KIND_CALLS: AppendCall(content, RecordOrBlank<CallRecord>(record)); return true;
    case KIND_SMS_RECV:
    case KIND_SMS_SENT:
        AppendMessage(content, RecordOrBlank<MessageRecord>(record), kind == KIND_SMS_RECV);
        return true;
    default: return true;  // an unknown kind leaves <Content/>
    }
}

bool DeviceSession::AppendContent(XmlNodeRef root, const void *record, uint32_t kind) {
    return AppendContentElement(root, record, kind);
}
