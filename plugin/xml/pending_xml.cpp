// Stand-ins for the xml/ operations that have not landed yet. Each is removed
// from here when its real definition arrives; this file goes when it is empty.
#include "core/session.h"
#include "xml/xml.h"

bool DeviceSession::XmlResponse(XmlNodeRef, AgentPacket *packet, const char *) { FreePacket(packet); return true; }
bool DeviceSession::AppendXmlDtd(std::string &, const char *) { return false; }
bool DeviceSession::MakeCapability(CapabilityInfo *, AgentPacket *packet) { FreePacket(packet); return false; }
bool DeviceSession::AppendContent(XmlNodeRef, const void *, uint32_t) { return false; }
XmlNodeRef StartContentsListing(XmlTree &) { return XmlNodeRef(); }
