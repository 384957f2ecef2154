// Stand-ins for the pim/ operations that have not landed yet. Each is removed
// from here when its real definition arrives; this file goes when it is empty.
#include "core/session.h"
#include "pim/pim.h"

PimStore::PimStore() = default;
PimStore::~PimStore() = default;
int PimStore::OpenPimVolume() { return 0; }
BOOL PimStore::GetPhoneNumber(char *number32) { number32[0] = 0; return FALSE; }
BOOL PimStore::ClosePimVolume() { return TRUE; }
int PimStore::ReadPimRecords(uint32_t, PtrArray *) { return 0; }
int PimStore::ReadMessageRecords(uint32_t, PtrArray *) { return 0; }
int PimStore::AddContact(ContactRecord *) { return 0; }
int PimStore::AddAppointment(AppointmentRecord *) { return 0; }
int PimStore::DeletePimRecord(PtrArray *, const char *, uint32_t) { return 0; }
int PimStore::DeleteMessageRecord(PtrArray *, const char *, uint32_t) { return 0; }
void ParseItemText(const char *, PtrArray *) {}
void FreeParsedItems(PtrArray *) {}
void FillContactRecord(PtrArray *, ContactRecord *) {}
void FillAppointmentRecord(PtrArray *, AppointmentRecord *) {}
void FreeRecordList(PtrArray *) {}

void DeviceSession::SendPhonebookListing() { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendScheduleListing() { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendCallListing() { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendMessageListing(const char *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendContactText(const char *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendAppointmentText(const char *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::SendCallText(const char *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::HandlePutContact(ObjectParams *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
void DeviceSession::HandlePutAppointment(ObjectParams *) { SendStatus(CopyOfLastRequest(), ST_FAILED); }
