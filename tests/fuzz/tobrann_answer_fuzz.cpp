// Fuzz entry for the answers of the phone's database server: the input chooses a
// DevCe wrapper, the code the server returns, and the response bytes, which reach
// the wrapper as an exact-size block of the local heap, as the RAPI provider hands
// them over. Whatever the wrapper accepts must fit what it was asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "pim/pim.h"

namespace {

struct CannedAnswer {
    HRESULT code = 0;
    const uint8_t *bytes = nullptr;
    size_t size = 0;
    bool sizeWithoutBlock = false;  // a provider that reports bytes but hands none
};
CannedAnswer g_answer;

HRESULT RAPI_CALL AnswerInvoke(const WCHAR *, const WCHAR *, DWORD, BYTE *, DWORD *pcbOutput, BYTE **ppOutput, void *,
                               DWORD) {
    *pcbOutput = static_cast<DWORD>(g_answer.size);
    *ppOutput = nullptr;
    if (g_answer.size > 0 && !g_answer.sizeWithoutBlock) {
        *ppOutput = static_cast<BYTE *>(platform::LocalAllocZeroed(g_answer.size));
        std::memcpy(*ppOutput, g_answer.bytes, g_answer.size);
    }
    return g_answer.code;
}

void Check(bool holds) {
    if (!holds) std::abort();
}

void ReadRecord(uint8_t mode) {
    static const CEPROPID kIds[] = {0x4013001F, 0x40150040, 0x40040003};
    uint16_t count = 3;
    uint8_t *buffer = nullptr;
    DWORD bufferSize = 0;
    DWORD flags = mode & 1;  // 1: the wrapper may allocate
    if ((mode & 2) != 0) {   // a caller's block that may be too small
        bufferSize = 64;
        buffer = static_cast<uint8_t *>(platform::LocalAllocZeroed(bufferSize));
    }
    DevCeReadRecordPropsEx(7, flags, (mode & 4) != 0 ? &count : nullptr, (mode & 4) != 0 ? kIds : nullptr, &buffer,
                           &bufferSize, nullptr);
    // The values the wrapper laid out are read the way the record readers read them
    // (only when it said how many there are).
    if ((mode & 4) != 0 && buffer != nullptr && bufferSize >= sizeof(CePropVal)) {
        const auto *values = reinterpret_cast<const CePropVal *>(buffer);
        for (size_t i = 0; i < count && (i + 1) * sizeof(CePropVal) <= bufferSize; ++i) {
            if (PropType(values[i].propid) == CEVT_LPWSTR && values[i].val.lpwstr != nullptr) {
                // Read bytewise: a string after an odd-sized blob sits at an odd address.
                const auto *text = reinterpret_cast<const uint8_t *>(values[i].val.lpwstr);
                size_t length = 0;
                while (text[2 * length] != 0 || text[2 * length + 1] != 0) ++length;
                fuzz::Touch(text, (length + 1) * sizeof(WCHAR));
            }
            if (PropType(values[i].propid) == CEVT_BLOB) {
                fuzz::Touch(values[i].val.blob.lpb, values[i].val.blob.dwCount);
            }
        }
    }
    platform::LocalFree(buffer);
}

void EnumVolumes(uint8_t mode) {
    CeGuid volume{};
    const DWORD characters = (mode & 1) != 0 ? 4 : 64;
    auto *name = new WCHAR[characters];
    if (DevCeEnumDBVolumes(&volume, name, characters)) {
        size_t length = 0;
        while (length < characters && name[length] != 0) ++length;
        Check(length < characters);
    }
    delete[] name;
}

void GetDatabaseProps(uint8_t mode) {
    static const CEPROPID kIds[] = {0x4013001F, 0x40150040};
    uint16_t count = 2;
    auto *specs = new uint8_t[2 * kPropSpecSize];
    if (DevCeGetDatabaseProps(3, &count, (mode & 1) != 0 ? kIds : nullptr, (mode & 2) != 0 ? specs : nullptr) &&
        (mode & 2) != 0 && count > 0) {
        Check(count <= 2);
    }
    delete[] specs;
}

void StreamRead(uint8_t mode) {
    const DWORD asked = (mode & 1) != 0 ? 8 : 300;
    auto *buffer = new uint8_t[asked];
    DWORD read = 0;
    if (DevCeStreamRead(5, buffer, asked, &read)) Check(read <= asked);
    delete[] buffer;
}

void OidInfo() {
    auto *info = new uint8_t[kOidInfoSize];
    DevCeOidGetInfoEx2(nullptr, 0x1234, info);
    delete[] info;
}

void Handles() {
    CeGuid volume{};
    DevCeCreateSession(&volume);
    DWORD index = 0;
    DevCeSeekDatabaseEx(9, 0, 0, 1, &index);
    auto *info = new uint8_t[kDbInfoByHandleSize];
    DevCeGetDBInformationByHandle(9, info);
    delete[] info;
    char number[32];
    if (DevCeGetPhoneNumber(number)) Check(std::memchr(number, 0, sizeof number) != nullptr);
}

}  // namespace

int FuzzTobrannAnswer(const uint8_t *data, size_t size) {
    const fuzz::FuzzLog log;
    fuzz::Cursor cursor(data, size);
    const uint8_t wrapper = cursor.Byte();
    const uint8_t mode = cursor.Byte();
    g_answer.code = static_cast<HRESULT>(cursor.U32());
    const fuzz::HeapCopy response = cursor.Rest();
    g_answer.bytes = response.data();
    g_answer.size = response.size();
    g_answer.sizeWithoutBlock = (mode & 0x80) != 0;

    fuzz::ScopedRapi rapi;
    rapi.table().CeRapiInvoke = &AnswerInvoke;
    rapi.Install();
    switch (wrapper % 6) {
    case 0: ReadRecord(mode); break;
    case 1: OidInfo(); break;
    case 2: EnumVolumes(mode); break;
    case 3: GetDatabaseProps(mode); break;
    case 4: StreamRead(mode); break;
    default: Handles(); break;
    }
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzTobrannAnswer(data, size); }
#endif
