// Fuzz entry for the host's reading of the plug-in's answers: the input is an answer
// body, split into parameters as the host splits it; every value is then read as the
// host reads what the plug-in hands back: the XML document (capability, folder and
// contents listings) walked attribute by attribute, item texts read as a contact and an appointment,
// and texts turned into the terminal's encoding, times (listing stamps and
// appointment times) and display widths. A plug-in that answers garbage must not
// crash the host.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent_client.h"
#include "appointment_time.h"
#include "fuzz_support.h"
#include "item_text.h"
#include "text.h"
#include "xml_answer.h"

namespace {

void ReadText(const std::string &text) {
    const std::string terminal = host::DeviceToTerminal(text);
    host::DisplayWidth(terminal);
    host::ListingTimeToLocal(text);
    host::Instant instant = 0;
    for (bool local : {false, true}) {
        if (host::ParseStamp(text, local, &instant)) host::LocalText(instant);
    }
}

// As a contact and as an appointment, listed with the text's first word as title.
void ReadItemText(const std::string &text) {
    host::ContentItem listed;
    listed.id = "40001";
    listed.title = text.substr(0, text.find_first_of("|="));
    for (const char *type : {"phonebook/private", "schedule"})
        for (const auto &[name, value] : host::ReadItemText(type, text, listed)) ReadText(value);
}

void Walk(const host::XmlElement &element, int depth) {
    if (depth > 64) return;
    ReadText(element.text);
    for (const auto &[name, value] : element.attributes) {
        ReadText(value);
        element.Attribute(name);
    }
    for (const host::XmlElement &child : element.children) {
        element.ChildText(child.name);
        Walk(child, depth + 1);
    }
}

}  // namespace

int FuzzHostAnswer(const uint8_t *data, size_t size) {
    fuzz::HeapCopy body(data, size);
    for (const host::Parameter &parameter : host::DecodeParameters(body.data(), body.size())) {
        if (parameter.code != PAR_XMLBODY) {
            ReadText(parameter.value);
            continue;
        }
        ReadItemText(parameter.value);  // an item's text comes in the same parameter
        host::XmlElement root;
        if (host::ParseXmlAnswer(parameter.value, &root).ok) Walk(root, 0);
    }
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzHostAnswer(data, size); }
#endif
