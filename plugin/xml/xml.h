// XML answers: the response envelope (DeviceSession::XmlResponse), the capability
// document (MakeCapability) and the contents-listing document (AppendContent).
// They are DeviceSession operations declared in core/session.h and defined here.
// The tree library itself, pugxml, stands alone in pugxml.h.
#ifndef CEBRIDGE_XML_H
#define CEBRIDGE_XML_H

#include <cstdint>

#include "xml/pugxml.h"

// DTD files read from the SAPATH directory for every answer.
#define DTD_FOLDER_LISTING "obex-folder-listing.dtd"
#define DTD_CAPABILITY "obex-capability.dtd"
#define DTD_CONTENTS_LISTING "obex-contents-listing.dtd"

constexpr int kCapabilityEntries = 16;   // entry 0: the object store; 1..15: stores found
constexpr int kCapabilityTextSize = 16;  // 15 usable characters

// What storage discovery hands to MakeCapability. The table is stored field by
// field, as the agent's capability document reads it.
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
XmlNodeRef StartContentsListing(XmlTree &tree);

#endif  // CEBRIDGE_XML_H
