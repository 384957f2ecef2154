// Client wrappers for the device-side database server `Tobrann`: each packs its
// arguments into the request the server function of the same name expects and
// turns the response into results and the thread's last error. The two property
// operations live in devce_props.cpp.
#include "pim/pim.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "pim/devce_wire.h"
#include "platform/platform.h"

using devce::Refuse;
using devce::Request;
using devce::Response;

namespace {

constexpr size_t kNameFieldSize = 520;     // 259 characters and the zero
constexpr size_t kPropNameSlotSize = 256;  // 127 characters and the zero
constexpr size_t kPhoneNumberSize = 32;

// Sends `request` when it was built whole; otherwise refuses with the heap's error.
#define DEVCE_SEND(response, function, request, failure)                       \
    if (!(request).Ok()) return Refuse(devce::kErrorNotEnoughMemory, failure); \
    Response response(CE_TEXT(function), request)

// The request size `fixed` + `count` × `each`, or 0 when it cannot be a request size.
size_t VariableRequestSize(size_t fixed, uint64_t count, size_t each) {
    const uint64_t total = fixed + count * each;
    return count > 0xFFFFFFFFull || total > 0x7FFFFFFFull ? 0 : static_cast<size_t>(total);
}

// The name a propspec points at (its fourth 32-bit field). A 20-byte
// propspec only holds a pointer on 32-bit targets; elsewhere it has no name.
const WCHAR *PropSpecName(const uint8_t *spec) {
    if constexpr (sizeof(void *) == 4) {
        const uintptr_t address = devce::ReadU32(spec + 12);
        return reinterpret_cast<const WCHAR *>(address);
    } else {
        return nullptr;
    }
}

}  // namespace

BOOL DevCeGetPhoneNumber(char *number32) {
    if (number32 == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    std::memset(number32, 0, kPhoneNumberSize);
    Response response(CE_TEXT("DevCeGetPhoneNumber"), nullptr, 0);
    if (response.Code() < 0) {
        std::fputs("Could not get Min information!\r\n", stdout);
        std::fflush(stdout);
        response.Fail();
        return FALSE;
    }
    platform::WideString number;
    for (size_t offset = 0; offset + 2 <= response.Size(); offset += 2) {
        const WCHAR character = static_cast<WCHAR>(response.U16At(offset));
        if (character == 0) break;
        number.push_back(character);
    }
    const std::string ansi = platform::WideToAnsiBounded(number.c_str(), kPhoneNumberSize - 1);
    std::memcpy(number32, ansi.data(), ansi.size() < kPhoneNumberSize ? ansi.size() : kPhoneNumberSize - 1);
    return TRUE;
}

BOOL DevCeMountDBVolEx(CeGuid *volume, const WCHAR *name, const uint8_t *options112, DWORD flags) {
    if (volume == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(4 + kNameFieldSize + 4 + (options112 != nullptr ? kVolumeOptionsSize : 0));
    request.U32(flags).WideField(name, kNameFieldSize).PresentWord(options112);
    if (options112 != nullptr) request.Bytes(options112, kVolumeOptionsSize);
    DEVCE_SEND(response, "DevCeMountDBVolEx", request, FALSE);
    if (!response.SucceededBySize(sizeof(CeGuid))) return FALSE;
    std::memcpy(volume->bytes, response.Bytes(), sizeof(CeGuid));
    return TRUE;
}

CEOID DevCeCreateDatabaseWithProps(const CeGuid *volume, const uint8_t *dbInfo2460, DWORD count,
                                   const uint8_t *propSpecs20) {
    const uint64_t specCount = propSpecs20 != nullptr ? count : 0;
    const size_t size = VariableRequestSize(16 + kDatabaseInfoSize + 8, specCount, kPropSpecSize);
    if (size == 0) return Refuse(CE_ERROR_INVALID_PARAMETER, CEOID{0});
    Request request(size);
    request.Guid(volume).Bytes(dbInfo2460, kDatabaseInfoSize).U32(count).PresentWord(propSpecs20);
    request.Bytes(propSpecs20, static_cast<size_t>(specCount) * kPropSpecSize);
    DEVCE_SEND(response, "DevCeCreateDatabaseWithProps", request, CEOID{0});
    return response.SucceededBySize(4) ? response.U32At(0) : 0;
}

BOOL DevCeOidGetInfoEx2(const CeGuid *volume, CEOID oid, uint8_t *oidInfo2464) {
    if (oidInfo2464 == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(20);
    request.Guid(volume).U32(oid);
    DEVCE_SEND(response, "DevCeOidGetInfoEx2", request, FALSE);
    if (!response.SucceededBySize(kOidInfoSize)) return FALSE;
    std::memcpy(oidInfo2464, response.Bytes(), kOidInfoSize);
    return TRUE;
}

DEVHANDLE DevCeCreateSession(const CeGuid *volume) {
    const CeGuid none{};
    Response response(CE_TEXT("DevCeCreateSession"), volume != nullptr ? volume : &none, sizeof(CeGuid));
    return response.SucceededBySize(4) ? response.U32At(0) : kInvalidDevHandle;
}

DEVHANDLE DevCeOpenDatabaseInSession(DEVHANDLE session, const CeGuid *volume, CEOID *oid, const WCHAR *name,
                                     const uint8_t *sortOrder136, DWORD flags, const uint8_t *notifyRequest20) {
    Request request(4 + 16 + 4 + kNameFieldSize + kSortOrderSize + 4 + kNotifyRequestSize);
    request.U32(session).Guid(volume).U32(oid != nullptr ? *oid : 0).WideField(name, kNameFieldSize);
    request.Bytes(sortOrder136, kSortOrderSize).U32(flags).Bytes(notifyRequest20, kNotifyRequestSize);
    DEVCE_SEND(response, "DevCeOpenDatabaseInSession", request, kInvalidDevHandle);
    return response.SucceededBySize(4) ? response.U32At(0) : kInvalidDevHandle;
}

DEVHANDLE DevCeGetDatabaseSession(DEVHANDLE database) {
    Response response(CE_TEXT("DevCeGetDatabaseSession"), &database, sizeof database);
    return response.SucceededBySize(4) ? response.U32At(0) : kInvalidDevHandle;
}

BOOL DevCeFlushDBVol(const CeGuid *volume) {
    Response response(CE_TEXT("DevCeFlushDBVol"), volume, volume != nullptr ? sizeof(CeGuid) : 0);
    return response.SucceededByCode() ? TRUE : FALSE;
}

void DevCeChangeDatabaseLCID(const CeGuid *volume, DWORD lcid) {
    Request request(20);
    request.Guid(volume).U32(lcid);
    if (!request.Ok()) {
        platform::SetLastError(devce::kErrorNotEnoughMemory);
        return;
    }
    Response response(CE_TEXT("DevCeChangeDatabaseLCID"), request);
    platform::SetLastError(static_cast<uint32_t>(response.Code()));
}

CEOID DevCeSeekDatabaseEx(DEVHANDLE database, DWORD seekType, DWORD value, uint16_t valueCount, DWORD *index) {
    Request request(16);
    request.U32(database).U32(seekType).U32(value).U16(valueCount).U16(0);
    DEVCE_SEND(response, "DevCeSeekDatabaseEx", request, CEOID{0});
    if (!response.SucceededBySize(8)) return 0;
    if (index != nullptr) *index = response.U32At(4);
    return response.U32At(0);
}

BOOL DevCeDeleteDatabaseEx(const CeGuid *volume, CEOID database) {
    Request request(20);
    request.Guid(volume).U32(database);
    DEVCE_SEND(response, "DevCeDeleteDatabaseEx", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeUnmountDBVol(const CeGuid *volume) {
    const CeGuid none{};
    Response response(CE_TEXT("DevCeUnmountDBVol"), volume != nullptr ? volume : &none, sizeof(CeGuid));
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeEnumDBVolumes(CeGuid *volume, WCHAR *nameBuffer, DWORD bufferSize) {
    if (volume == nullptr || nameBuffer == nullptr || bufferSize == 0) {
        return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    }
    Request request(20);
    request.Guid(volume).U32(bufferSize);
    DEVCE_SEND(response, "DevCeEnumDBVolumes", request, FALSE);
    if (!response.SucceededByCode()) return FALSE;
    // bytes 0..15: the next volume; then its name, which must end inside the response
    // and fit the caller's buffer (`bufferSize` characters) with its zero.
    const size_t size = response.Size();
    if (size < sizeof(CeGuid) || (size - sizeof(CeGuid)) % 2 != 0) return response.Failed(FALSE);
    size_t characters = 0;
    while (sizeof(CeGuid) + 2 * characters + 2 <= size && response.U16At(sizeof(CeGuid) + 2 * characters) != 0) {
        ++characters;
    }
    if (characters + 1 > bufferSize) return Refuse(CE_ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(volume->bytes, response.Bytes(), sizeof(CeGuid));
    for (size_t i = 0; i < characters; ++i) nameBuffer[i] = static_cast<WCHAR>(response.U16At(sizeof(CeGuid) + 2 * i));
    nameBuffer[characters] = 0;
    return TRUE;
}

BOOL DevCeAddDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const uint8_t *propSpecs20) {
    if (count == 0 || propSpecs20 == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    const size_t size = VariableRequestSize(28, count, kPropSpecSize + kPropNameSlotSize);
    if (size == 0) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(size);
    request.Guid(volume).U32(database).U32(count).PresentWord(propSpecs20);
    request.Bytes(propSpecs20, static_cast<size_t>(count) * kPropSpecSize);
    for (DWORD i = 0; i < count; ++i)
        request.WideField(PropSpecName(propSpecs20 + i * kPropSpecSize), kPropNameSlotSize);
    DEVCE_SEND(response, "DevCeAddDatabaseProps", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeDeleteRecord(DEVHANDLE database, CEOID record) {
    Request request(8);
    request.U32(database).U32(record);
    DEVCE_SEND(response, "DevCeDeleteRecord", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

DEVHANDLE DevCeFindFirstDatabaseEx(const CeGuid *volume, DWORD type) {
    Request request(20);
    request.Guid(volume).U32(type);
    DEVCE_SEND(response, "DevCeFindFirstDatabaseEx", request, kInvalidDevHandle);
    return response.SucceededBySize(4) ? response.U32At(0) : kInvalidDevHandle;
}

CEOID DevCeFindNextDatabaseEx(DEVHANDLE enumeration, const CeGuid *volume) {
    Request request(20);
    request.U32(enumeration).Guid(volume);
    DEVCE_SEND(response, "DevCeFindNextDatabaseEx", request, CEOID{0});
    return response.SucceededBySize(4) ? response.U32At(0) : 0;
}

// The identifiers travel as n 20-byte propspecs, each holding only
// its identifier (at offset 4, where a propspec keeps it).
BOOL DevCeGetDatabaseProps(DEVHANDLE database, uint16_t *count, const CEPROPID *ids, uint8_t *propSpecs20) {
    if (count == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    const uint16_t asked = *count;
    Request request(16 + (ids != nullptr ? size_t{asked} * kPropSpecSize : 0));
    request.U32(database).U16(asked).U16(0).PresentWord(ids).PresentWord(propSpecs20);
    for (size_t i = 0; ids != nullptr && i < asked; ++i) {
        if (uint8_t *spec = request.Reserve(kPropSpecSize)) devce::WriteU32(spec + 4, ids[i]);
    }
    DEVCE_SEND(response, "DevCeGetDatabaseProps", request, FALSE);
    if (!response.SucceededByCode()) return FALSE;
    if (response.Size() < 2) return response.Failed(FALSE);
    const uint16_t returned = response.U16At(0);
    if (propSpecs20 != nullptr) {  // a count without the specs asked for is no answer
        const size_t bytes = size_t{returned} * kPropSpecSize;
        if (response.Size() - 2 < bytes) return response.Failed(FALSE);
        if (returned > asked) return Refuse(CE_ERROR_INSUFFICIENT_BUFFER, FALSE);
        std::memcpy(propSpecs20, response.Bytes() + 2, bytes);
    }
    *count = returned;
    return TRUE;
}

BOOL DevCeRemoveDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const CEPROPID *ids) {
    if (count != 0 && ids == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    const size_t size = VariableRequestSize(24, count, 4);
    if (size == 0) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(size);
    request.Guid(volume).U32(database).U32(count);
    for (DWORD i = 0; i < count; ++i) request.U32(ids[i]);
    DEVCE_SEND(response, "DevCeRemoveDatabaseProps", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeGetDBInformationByHandle(DEVHANDLE database, uint8_t *info2484) {
    if (info2484 == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Response response(CE_TEXT("DevCeGetDBInformationByHandle"), &database, sizeof database);
    if (!response.SucceededByCode() || !response.SucceededBySize(kDbInfoByHandleSize)) return FALSE;
    std::memcpy(info2484, response.Bytes(), kDbInfoByHandleSize);
    return TRUE;
}

BOOL DevCeSetDatabaseInfo(DWORD database, const uint8_t *dbInfo2460) {
    if (dbInfo2460 == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(4 + kDatabaseInfoSize);
    request.U32(database).Bytes(dbInfo2460, kDatabaseInfoSize);
    DEVCE_SEND(response, "DevCeSetDatabaseInfo", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeFreeNotification(const uint8_t *request20, const uint8_t *notification36) {
    Request request(kNotifyRequestSize + kNotificationSize);
    request.Bytes(request20, kNotifyRequestSize).Bytes(notification36, kNotificationSize);
    DEVCE_SEND(response, "DevCeFreeNotification", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeSetSessionOption(DEVHANDLE session, DWORD option, DWORD value) {
    Request request(12);
    request.U32(session).U32(option).U32(value);
    DEVCE_SEND(response, "DevCeSetSessionOption", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeBeginTransaction(DEVHANDLE session, DWORD isolation) {
    Request request(8);
    request.U32(session).U32(isolation);
    DEVCE_SEND(response, "DevCeBeginTransaction", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeEndTransaction(DEVHANDLE session, BOOL commit) {
    Request request(8);
    request.U32(session).U32(static_cast<uint32_t>(commit));
    DEVCE_SEND(response, "DevCeEndTransaction", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

DEVHANDLE DevCeOpenStream(DEVHANDLE database, CEPROPID prop, DWORD mode) {
    Request request(12);
    request.U32(database).U32(prop).U32(mode);
    DEVCE_SEND(response, "DevCeOpenStream", request, kInvalidDevHandle);
    return response.SucceededBySize(4) ? response.U32At(0) : kInvalidDevHandle;
}

BOOL DevCeStreamRead(DEVHANDLE stream, uint8_t *buffer, DWORD count, DWORD *read) {
    if (buffer == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(8);
    request.U32(stream).U32(count);
    DEVCE_SEND(response, "DevCeStreamRead", request, FALSE);
    if (!response.SucceededNonEmpty(4)) return FALSE;
    // The bytes after the count are the data, and the count must say so.
    const DWORD bytesRead = response.U32At(0);
    if (bytesRead != response.Size() - 4 || bytesRead > count) return response.Failed(FALSE);
    std::memcpy(buffer, response.Bytes() + 4, bytesRead);
    if (read != nullptr) *read = bytesRead;
    return TRUE;
}

BOOL DecCeStreamSaveChanges(DEVHANDLE stream) {
    Response response(CE_TEXT("DecCeStreamSaveChanges"), &stream, sizeof stream);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeStreamSetSize(DEVHANDLE stream, DWORD size) {
    Request request(8);
    request.U32(stream).U32(size);
    DEVCE_SEND(response, "DevCeStreamSetSize", request, FALSE);
    return response.SucceededByCode() ? TRUE : FALSE;
}

BOOL DevCeStreamSeek(DEVHANDLE stream, DWORD distance, DWORD origin, DWORD *position) {
    Request request(12);
    request.U32(stream).U32(distance).U32(origin);
    DEVCE_SEND(response, "DevCeStreamSeek", request, FALSE);
    if (!response.SucceededNonEmpty(4)) return FALSE;
    if (position != nullptr) *position = response.U32At(0);
    return TRUE;
}

BOOL DevCeStreamWrite(DEVHANDLE stream, const uint8_t *data, DWORD count, DWORD *written) {
    if (data == nullptr && count != 0) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    const size_t size = VariableRequestSize(8, count, 1);
    if (size == 0) return Refuse(CE_ERROR_INVALID_PARAMETER, FALSE);
    Request request(size);
    request.U32(stream).U32(count).Bytes(data, count);
    DEVCE_SEND(response, "DevCeStreamWrite", request, FALSE);
    if (!response.SucceededNonEmpty(4)) return FALSE;
    if (written != nullptr) *written = response.U32At(0);
    return TRUE;
}
