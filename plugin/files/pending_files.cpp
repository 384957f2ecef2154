// Stand-ins for the files/ operations that have not landed yet. Each is removed
// from here when its real definition arrives; this file goes when it is empty.
#include "core/session.h"

bool DeviceSession::GetCapability(const char *, AgentPacket *response) { SendStatus(response, ST_FAILED); return false; }
bool DeviceSession::ParseSetPath(const uint8_t *, uint32_t, SetPathParams *) { return false; }
bool DeviceSession::FbsSetPath(char *name, const char *) { free(name); return false; }
void DeviceSession::HandleSetPath(const AgentPacket *request) { SendStatus(CopyPacketWithoutBody(request), ST_UNSUPPORTED); }
bool DeviceSession::FbsList(void *, AgentPacket *) { return false; }
bool DeviceSession::GetFile(ObjectParams *) { return false; }
bool DeviceSession::PutFile(ObjectParams *) { return false; }
uint32_t DeviceSession::RunCabInstaller(const WCHAR *) { return 1; }
bool DeviceSession::DeleteDeviceFile(ObjectParams *) { return false; }
void DeviceSession::GetPackageList(const char *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
bool DeviceSession::ComposeFolderPath(char *out, size_t outSize) const { if (outSize) out[0] = 0; return outSize > 0; }
