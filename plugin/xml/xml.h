// XML answers: the response envelope (DeviceSession::XmlResponse), the capability
// document (MakeCapability) and the contents-listing document (AppendContent).
// They are DeviceSession operations declared in core/session.h and defined here.
// The tree library itself, pugxml, stands alone in pugxml.h.
#ifndef CEBRIDGE_XML_H
#define CEBRIDGE_XML_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "xml/pugxml.h"

// DTD files read from the SAPATH directory for every answer.
#define DTD_FOLDER_LISTING "obex-folder-listing.dtd"
#define DTD_CAPABILITY "obex-capability.dtd"
#define DTD_CONTENTS_LISTING "obex-contents-listing.dtd"

constexpr int kCapabilityEntries = 16;   // entry 0: the object store; 1..15: stores found
constexpr int kCapabilityTextSize = 16;  // 15 usable characters

// What storage discovery hands to MakeCapability, allocated with `new`; MakeCapability
// takes it over and deletes it. The table is stored field by field, as the agent's
// capability document reads it. Fields need not be terminated: readers stop at the
// field's end.
struct CapabilityInfo {
    char model[128];
    char location[kCapabilityEntries][kCapabilityTextSize];
    char memoryType[kCapabilityEntries][kCapabilityTextSize];
    char freeBytes[kCapabilityEntries][kCapabilityTextSize];
    char usedBytes[kCapabilityEntries][kCapabilityTextSize];
    char blockSize[kCapabilityEntries][kCapabilityTextSize];
    char usedBlocks[kCapabilityEntries][kCapabilityTextSize];
    char totalBlocks[kCapabilityEntries][kCapabilityTextSize];
    char freeBlocks[kCapabilityEntries][kCapabilityTextSize];
    uint32_t cardsPresent;
};

// Starts a contents listing in `tree`: the "xml" declaration and the root
// Contents-listing element; returns the root (empty when the tree has no document).
// The caller has already created the tree (XmlTree::create).
XmlNodeRef StartContentsListing(XmlTree &tree);

// ---- the pieces behind the DeviceSession operations, usable without a session --------

// The text the agent reads: `document` written by stream insertion and re-flowed
// token by token (each markup token on its own line, CR LF between lines, single
// spaces inside values); `dtdText` is asked for the DTD text after every token that
// holds "?>".
std::string ComposeAgentXml(XmlNodeRef document, const std::function<std::string()> &dtdText);
// Appends the DTD file `directory`\`dtdName` to `text`, each line (or 254-character
// piece of a line) preceded by CR LF. False, with `text` unchanged, when the file
// cannot be opened for reading and update.
bool AppendDtdFile(std::string &text, const std::string &directory, const char *dtdName);

// Fills an empty document with the capability document for `info`; `phoneNumber`
// may be empty (no Term/MIN pair).
void BuildCapabilityDocument(XmlNodeRef document, const CapabilityInfo &info, const char *phoneNumber);
// Appends one Content element for `record` of `kind` (a ContentKind) to `parent`.
// False only for a package record that is missing or has no application id.
bool AppendContentElement(XmlNodeRef parent, const void *record, uint32_t kind);

// A record's text field as a string; the field need not be terminated.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Building blocks of the documents. A null `text` gives a Text child without value.
XmlNodeRef AddElement(XmlNodeRef parent, const char *name);
// An element holding one Text child: written on one line between its tags.
XmlNodeRef AddTextElement(XmlNodeRef parent, const char *name, const char *text);
// An Ext element holding XNam = `name`, then XVal = `value`.
XmlNodeRef AddExtPair(XmlNodeRef parent, const char *name, const char *value);

#endif  // CEBRIDGE_XML_H
