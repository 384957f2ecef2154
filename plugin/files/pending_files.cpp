// Stand-ins for the files/ operations that have not landed yet. Each is removed
// from here when its real definition arrives; this file goes when it is empty.
#include "core/session.h"

bool DeviceSession::GetCapability(const char *, AgentPacket *response) { SendStatus(response, ST_FAILED); return false; }
