// The capability document: the phone's model, memories and number, and the fixed
// description of the services the agent can use.
#include "xml/xml.h"

#include <cstring>
#include <memory>
#include <string>

#include "core/session.h"
#include "support/support.h"

namespace {

std::string OrZero(const std::string &text) { return text.empty() ? "0" : text; }

// One Memory element for entry `entry` of the table; entry 0 is the object store.
void AddMemory(XmlNodeRef general, const CapabilityInfo &info, int entry) {
    const bool objectStore = entry == 0;
    XmlNodeRef memory = AddElement(general, "Memory");
    AddTextElement(memory, "MemType", objectStore ? "Internal" : FieldText(info.memoryType[entry]).c_str());
    AddTextElement(memory, "Location", objectStore ? "0" : FieldText(info.location[entry]).c_str());
    AddTextElement(memory, "Free", OrZero(FieldText(info.freeBytes[entry])).c_str());
    AddTextElement(memory, "Used", OrZero(FieldText(info.usedBytes[entry])).c_str());
    AddExtPair(memory, "Group", "WG-REGISTRY");
    // Storage discovery always fills the object store's block size; it goes out as is.
    const std::string blockSize = FieldText(info.blockSize[entry]);
    AddExtPair(memory, "BlockByte", objectStore ? blockSize.c_str() : OrZero(blockSize).c_str());
    AddExtPair(memory, "TotalBlock", OrZero(FieldText(info.totalBlocks[entry])).c_str());
    AddExtPair(memory, "FreeBlock", OrZero(FieldText(info.freeBlocks[entry])).c_str());
    AddExtPair(memory, "UsedBlock", OrZero(FieldText(info.usedBlocks[entry])).c_str());
}

void AddGeneral(XmlNodeRef capability, const CapabilityInfo &info, const std::string &phoneNumber) {
    XmlNodeRef general = AddElement(capability, "General");
    AddTextElement(general, "Manufacturer", "VEX General");
    const std::string model = FieldText(info.model);
    AddTextElement(general, "Model", model.empty() ? "UNKNOWN" : model.c_str());
    AddTextElement(general, "Language", "ko");
    AddMemory(general, info, 0);
    if (info.cardsPresent != 0) {
        for (int entry = 1; entry < kCapabilityEntries && info.location[entry][0] != 0; ++entry) {
            AddMemory(general, info, entry);
        }
    }
    AddExtPair(general, "Carrier", "Morvane Co., Ltd.");
    AddExtPair(general, "TermType", "UNKNOWN");
    if (!phoneNumber.empty()) AddExtPair(general, "Term/MIN", phoneNumber.c_str());
}

// An Object element: Type, then Name-Ext when `nameExtension` is given.
void AddObject(XmlNodeRef parent, const char *type, const char *nameExtension) {
    XmlNodeRef object = AddElement(parent, "Object");
    AddTextElement(object, "Type", type);
    if (nameExtension) AddTextElement(object, "Name-Ext", nameExtension);
}

void AddInbox(XmlNodeRef capability) {
    XmlNodeRef inbox = AddElement(capability, "Inbox");
    AddObject(inbox, "application/vnd.oma.drm.dcf", "dcf");
    AddObject(inbox, "application/vnd.oma.drm.dpf", "dpf");
}

// A Service element; a null `version` gives an empty <Version></Version>.
void AddService(XmlNodeRef capability, const char *name, const char *uuid, const char *version,
                const char *objectType) {
    XmlNodeRef service = AddElement(capability, "Service");
    AddTextElement(service, "Name", name);
    AddTextElement(service, "UUID", uuid);
    AddTextElement(service, "Version", version);
    AddObject(service, objectType, nullptr);
    XmlNodeRef access = AddElement(service, "Access");
    AddTextElement(access, "Protocol", "USB");
    AddTextElement(access, "Target", uuid);
}

}  // namespace

void BuildCapabilityDocument(XmlNodeRef document, const CapabilityInfo &info, const char *phoneNumber) {
    XmlNodeRef declaration = document.add_child(node_pi);
    declaration.set_name("xml");
    declaration.add_attribute("version", "1.0");

    XmlNodeRef capability = AddElement(document, "Capability");
    capability.attribute("Version") = "1.0";
    AddGeneral(capability, info, phoneNumber ? phoneNumber : "");
    AddInbox(capability);
    AddService(capability, "Contents-Browsing", "a07b7750e01349b2af1ab74545ec5918", "4.02.09",
               "x-vex-obex/contents-listing");
    AddService(capability, "Folder-Browsing", "f9ec7bc4953c11D2984e525400dc9e09", nullptr, "x-vex-obex/folder-listing");
}

bool DeviceSession::MakeCapability(CapabilityInfo *info, AgentPacket *packet) {
    const std::unique_ptr<CapabilityInfo> record(info);
    static const CapabilityInfo kBlank{};
    LogLine(LOG_TRACE, "Make Capability");

    XmlTree tree(0xffff, true);
    tree.create();
    XmlNodeRef document = tree.document();
    if (document.empty()) {
        LogLine(LOG_TRACE, "Can not make Capability XML Document!!");
        SendStatus(packet, ST_FAILED);
        return false;
    }
    LogLine(LOG_TRACE, "make xml body");
    const std::string phoneNumber(m_szPhoneNumber, strnlen(m_szPhoneNumber, sizeof m_szPhoneNumber));
    BuildCapabilityDocument(document, record ? *record : kBlank, phoneNumber.c_str());

    packet->command = CMD_GET;
    packet->subCommand = SUB_GET_CAPABILITY;
    XmlResponse(document, packet, DTD_CAPABILITY);
    tree.clear();
    return true;
}
