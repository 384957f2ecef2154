// Fuzz entry for the phone's find records (CeFindAllFiles): the input builds the
// records the phone answers with, in an exact-size block, and they are read by the
// folder listing and by the storage discovery of the capability answer (against a
// small fixed registry naming three storage profiles).
//
// Input: one byte choosing the reader, then per record: attributes (4 bytes), size
// (4), write time (4), one name byte (bit 7: a name filling the whole field with no
// terminator; else the name's length in characters) and the name's characters, two
// bytes each, as far as the input goes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/session.h"
#include "files/files.h"
#include "fuzz_support.h"

namespace {

std::vector<CE_FIND_DATA> g_records;

CE_FIND_DATA RecordFrom(fuzz::Cursor &cursor) {
    CE_FIND_DATA record{};
    record.dwFileAttributes = cursor.U32();
    record.nFileSizeLow = cursor.U32();
    record.ftLastWriteTime.dwLowDateTime = cursor.U32();
    record.ftLastWriteTime.dwHighDateTime = 0x01D00000;
    const uint8_t nameForm = cursor.Byte();
    const size_t characters = (nameForm & 0x80) != 0 ? CE_MAX_PATH : nameForm;
    for (size_t i = 0; i < characters; ++i) {
        const uint16_t character = cursor.Left() >= 2 ? cursor.U16() : u'n';
        record.cFileName[i] = static_cast<WCHAR>(character);
    }
    return record;
}

BOOL RAPI_CALL FindRecords(const WCHAR *, DWORD, DWORD *count, CE_FIND_DATA **array) {
    *count = static_cast<DWORD>(g_records.size());
    *array = nullptr;
    if (g_records.empty()) return TRUE;
    const size_t bytes = g_records.size() * sizeof(CE_FIND_DATA);
    *array = static_cast<CE_FIND_DATA *>(platform::LocalAllocZeroed(bytes));
    std::memcpy(*array, g_records.data(), bytes);
    return TRUE;
}

HRESULT RAPI_CALL FreeRecords(void *buffer) {
    platform::LocalFree(buffer);
    return 0;
}

// ---- a registry of three storage profiles and the phone's name
struct Profile {
    const WCHAR *key;
    const WCHAR *folder;
};
const Profile kProfiles[] = {
    {CE_TEXT("SDMemory"), CE_TEXT("Storage Card")},
    {CE_TEXT("FlashDrv"), CE_TEXT("My Flash")},
    {CE_TEXT("MMC"), CE_TEXT("My Storage")},
};
constexpr uintptr_t kProfilesKey = 0x10;
constexpr uintptr_t kIdentKey = 0x20;
constexpr uintptr_t kFirstProfileKey = 0x30;

bool SameText(const WCHAR *a, const WCHAR *b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

size_t TextLength(const WCHAR *text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

HKEY KeyHandle(uintptr_t value) { return reinterpret_cast<HKEY>(value); }

LONG RAPI_CALL OpenKey(HKEY parent, const WCHAR *path, DWORD, REGSAM, HKEY *result) {
    if (parent == KeyHandle(kProfilesKey)) {
        for (size_t i = 0; i < sizeof kProfiles / sizeof kProfiles[0]; ++i) {
            if (SameText(path, kProfiles[i].key)) return *result = KeyHandle(kFirstProfileKey + i), 0;
        }
        return CE_ERROR_FILE_NOT_FOUND;
    }
    *result = KeyHandle(SameText(path, CE_TEXT("IDENT")) ? kIdentKey : kProfilesKey);
    return 0;
}

LONG RAPI_CALL EnumKey(HKEY, DWORD index, WCHAR *name, DWORD *characters, DWORD *, WCHAR *, DWORD *, FILETIME *) {
    if (index >= sizeof kProfiles / sizeof kProfiles[0]) return 259;  // no more items
    const size_t length = TextLength(kProfiles[index].key);
    if (length + 1 > *characters) return CE_ERROR_MORE_DATA;
    std::memcpy(name, kProfiles[index].key, (length + 1) * sizeof(WCHAR));
    *characters = static_cast<DWORD>(length);
    return 0;
}

LONG RAPI_CALL QueryValue(HKEY key, const WCHAR *, DWORD *, DWORD *type, BYTE *data, DWORD *size) {
    const uintptr_t handle = reinterpret_cast<uintptr_t>(key);
    const WCHAR *text = handle == kIdentKey          ? CE_TEXT("Fuzz Phone")
                        : handle >= kFirstProfileKey ? kProfiles[handle - kFirstProfileKey].folder
                                                     : nullptr;
    if (text == nullptr) return CE_ERROR_FILE_NOT_FOUND;
    const DWORD bytes = static_cast<DWORD>((TextLength(text) + 1) * sizeof(WCHAR));
    if (type != nullptr) *type = 1;  // REG_SZ
    if (bytes > *size) return *size = bytes, static_cast<LONG>(CE_ERROR_MORE_DATA);
    std::memcpy(data, text, bytes);
    *size = bytes;
    return 0;
}

LONG RAPI_CALL CloseKey(HKEY) { return 0; }

BOOL RAPI_CALL StoreInformation(STORE_INFORMATION *info) {
    info->dwStoreSize = 32u << 20;
    info->dwFreeSize = 12u << 20;
    return TRUE;
}

BOOL RAPI_CALL DiskFreeSpace(const WCHAR *, ULARGE_INTEGER *available, ULARGE_INTEGER *total, ULARGE_INTEGER *free) {
    available->QuadPart = 1u << 20;
    total->QuadPart = 4u << 20;
    free->QuadPart = 1u << 20;
    return TRUE;
}

void InstallPhone(fuzz::ScopedRapi &rapi) {
    platform::RapiTable &table = rapi.table();
    table.CeFindAllFiles = &FindRecords;
    table.CeRapiFreeBuffer = &FreeRecords;
    table.CeRegOpenKeyEx = &OpenKey;
    table.CeRegEnumKeyEx = &EnumKey;
    table.CeRegQueryValueEx = &QueryValue;
    table.CeRegCloseKey = &CloseKey;
    table.CeGetStoreInformation = &StoreInformation;
    table.CeGetDiskFreeSpaceEx = &DiskFreeSpace;
    rapi.Install();
}

// A request record for the session's answers, as the dispatcher hands it over.
AgentPacket *NewAnswer() {
    AgentPacket request{};
    request.command = CMD_GET;
    request.uid = 1;
    return CopyPacketWithoutBody(&request);
}

}  // namespace

int FuzzFindRecords(const uint8_t *data, size_t size) {
    const fuzz::FuzzLog log;
    fuzz::Cursor cursor(data, size);
    const uint8_t reader = cursor.Byte();
    g_records.clear();
    while (cursor.Left() > 0 && g_records.size() < 64) g_records.push_back(RecordFrom(cursor));

    fuzz::ScopedRapi rapi;
    InstallPhone(rapi);
    DeviceSession &session = fuzz::StoppedSession();
    session.m_nConnected = 1;
    if ((reader & 1) == 0) {
        auto *scratch = new files::ListingScratch{};
        AgentPacket *answer = NewAnswer();
        if (!session.FbsList(scratch, answer)) session.SendStatus(answer, ST_FAILED);
        delete scratch;
    } else {
        session.GetCapability("x-obex/capability", NewAnswer());
    }
    g_records.clear();
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzFindRecords(data, size); }
#endif
