// Stand-ins for the remote database calls that have not landed yet. Each is
// removed from here when its real definition arrives; this file goes when empty.
#include "pim/pim.h"
#include "platform/platform.h"

BOOL DevCeGetPhoneNumber(char *number32) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeMountDBVolEx(CeGuid *volume, const WCHAR *name, const uint8_t *options112, DWORD flags) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
CEOID DevCeCreateDatabaseWithProps(const CeGuid *volume, const uint8_t *dbInfo2460, DWORD count, const uint8_t *propSpecs20) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return 0; }
BOOL DevCeOidGetInfoEx2(const CeGuid *volume, CEOID oid, uint8_t *oidInfo2464) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
DEVHANDLE DevCeCreateSession(const CeGuid *volume) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return kInvalidDevHandle; }
DEVHANDLE DevCeOpenDatabaseInSession(DEVHANDLE session, const CeGuid *volume, CEOID *oid, const WCHAR *name, const uint8_t *sortOrder136, DWORD flags, const uint8_t *notifyRequest20) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return kInvalidDevHandle; }
DEVHANDLE DevCeGetDatabaseSession(DEVHANDLE database) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return kInvalidDevHandle; }
BOOL DevCeFlushDBVol(const CeGuid *volume) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
CEOID DevCeWriteRecordProps(DEVHANDLE database, CEOID record, uint16_t count, const CePropVal *values) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return 0; }
void DevCeChangeDatabaseLCID(const CeGuid *volume, DWORD lcid) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); }
CEOID DevCeSeekDatabaseEx(DEVHANDLE database, DWORD seekType, DWORD value, uint16_t valueCount, DWORD *index) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return 0; }
BOOL DevCeDeleteDatabaseEx(const CeGuid *volume, CEOID database) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeUnmountDBVol(const CeGuid *volume) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeEnumDBVolumes(CeGuid *volume, WCHAR *nameBuffer, DWORD bufferSize) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
CEOID DevCeReadRecordPropsEx(DEVHANDLE database, DWORD flags, uint16_t *count, const CEPROPID *ids, uint8_t **buffer, DWORD *bufferSize, void *heap) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return 0; }
BOOL DevCeAddDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const uint8_t *propSpecs20) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeDeleteRecord(DEVHANDLE database, CEOID record) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
DEVHANDLE DevCeFindFirstDatabaseEx(const CeGuid *volume, DWORD type) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return kInvalidDevHandle; }
CEOID DevCeFindNextDatabaseEx(DEVHANDLE enumeration, const CeGuid *volume) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return 0; }
BOOL DevCeGetDatabaseProps(DEVHANDLE database, uint16_t *count, const CEPROPID *ids, uint8_t *propSpecs20) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeRemoveDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const CEPROPID *ids) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeGetDBInformationByHandle(DEVHANDLE database, uint8_t *info2484) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeSetDatabaseInfo(DWORD database, const uint8_t *dbInfo2460) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeFreeNotification(const uint8_t *request20, const uint8_t *notification36) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeSetSessionOption(DEVHANDLE session, DWORD option, DWORD value) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeBeginTransaction(DEVHANDLE session, DWORD isolation) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeEndTransaction(DEVHANDLE session, BOOL commit) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
DEVHANDLE DevCeOpenStream(DEVHANDLE database, CEPROPID prop, DWORD mode) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return kInvalidDevHandle; }
BOOL DevCeStreamRead(DEVHANDLE stream, uint8_t *buffer, DWORD count, DWORD *read) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DecCeStreamSaveChanges(DEVHANDLE stream) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeStreamSetSize(DEVHANDLE stream, DWORD size) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeStreamSeek(DEVHANDLE stream, DWORD distance, DWORD origin, DWORD *position) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
BOOL DevCeStreamWrite(DEVHANDLE stream, const uint8_t *data, DWORD count, DWORD *written) { platform::SetLastError(CE_ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
