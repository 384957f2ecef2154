// The two property operations of the database server: writing a record's properties
// and reading them back. Both move a *property area*: n 16-byte property values
// followed by a data area holding the strings and blobs, whose pointer fields travel
// as byte offsets from the start of the area.
#include "pim/pim.h"

#include <cstring>
#include <vector>

#include "pim/devce_wire.h"
#include "platform/platform.h"

using devce::ReadU32;
using devce::Refuse;
using devce::Request;
using devce::Response;
using devce::WriteU32;

namespace {

constexpr size_t kWireValueSize = 16;       // CEPROPVAL on the wire
constexpr size_t kWireValueDataOffset = 8;  // where the value's 8 bytes start
constexpr uint64_t kMaxStringCharacters = 0x7FFFFFFF;
constexpr size_t kWriteHeaderSize = 14;
constexpr size_t kReadHeaderSize = 6;

// ---- writing ------------------------------------------------------------------------

// Characters before the zero, or -1 when the string is missing or has no zero
// within the bound.
int64_t MeasuredLength(const WCHAR *text) {
    if (text == nullptr) return -1;
    for (uint64_t length = 0; length < kMaxStringCharacters; ++length) {
        if (text[length] == 0) return static_cast<int64_t>(length);
    }
    return -1;
}

// The bytes each value puts into the data area (0 for values that carry none), or
// false when a string or blob cannot be sent.
bool MeasureDataItems(uint16_t count, const CePropVal *values, std::vector<uint64_t> *itemBytes) {
    itemBytes->assign(count, 0);
    for (uint16_t i = 0; i < count; ++i) {
        const CePropVal &value = values[i];
        if (PropType(value.propid) == CEVT_LPWSTR) {
            const int64_t length = MeasuredLength(value.val.lpwstr);
            if (length < 0) return false;
            (*itemBytes)[i] = (static_cast<uint64_t>(length) + 1) * 2;
        } else if (PropType(value.propid) == CEVT_BLOB) {
            if (value.val.blob.lpb == nullptr && value.val.blob.dwCount != 0) return false;
            (*itemBytes)[i] = value.val.blob.dwCount;
        }
    }
    return true;
}

// One value in its 16 wire bytes; a string or blob points at `dataOffset`.
void PutWireValue(Request &request, const CePropVal &value, uint32_t dataOffset) {
    uint8_t *wire = request.Reserve(kWireValueSize);
    if (wire == nullptr) return;
    WriteU32(wire, value.propid);
    devce::WriteU16(wire + 4, value.wLenData);
    devce::WriteU16(wire + 6, value.wFlags);
    uint8_t *data = wire + kWireValueDataOffset;
    switch (PropType(value.propid)) {
    case CEVT_LPWSTR: WriteU32(data, dataOffset); break;
    case CEVT_BLOB:
        WriteU32(data, value.val.blob.dwCount);
        WriteU32(data + 4, dataOffset);
        break;
    default:  // numbers and times travel as they are
        std::memcpy(data, &value.val.raw, 8);
        break;
    }
}

void PutDataItem(Request &request, const CePropVal &value, uint64_t bytes) {
    if (PropType(value.propid) == CEVT_LPWSTR) {
        uint8_t *text = request.Reserve(static_cast<size_t>(bytes));
        for (size_t i = 0; text != nullptr && i + 1 < bytes / 2; ++i) {
            devce::WriteU16(text + 2 * i, static_cast<uint16_t>(value.val.lpwstr[i]));
        }  // the zero character is already there
    } else if (PropType(value.propid) == CEVT_BLOB) {
        request.Bytes(value.val.blob.lpb, static_cast<size_t>(bytes));
    }
}

// ---- reading --------------------------------------------------------------------------

// A property area as it arrived: `count` wire values, then their data.
struct WireArea {
    const uint8_t *bytes;
    size_t size;
    uint16_t count;

    size_t ValuesSize() const { return size_t{count} * kWireValueSize; }
    const uint8_t *Value(size_t i) const { return bytes + i * kWireValueSize; }
};

// A string's offset must lie in the data area with its zero before the area's end;
// a blob's bytes must lie in the data area. Data items never share bytes, so all of
// them together fit in the data area: `budget` holds what is left of it, which also
// bounds the scanning work to the size of the response. `bytes` receives what the
// item takes (a string with its zero; 0 for values that carry no data).
bool DataItemInside(const WireArea &area, const uint8_t *wire, uint64_t *budget, size_t *bytes) {
    const uint8_t *data = wire + kWireValueDataOffset;
    *bytes = 0;
    switch (PropType(ReadU32(wire))) {
    case CEVT_LPWSTR: {
        const uint64_t offset = ReadU32(data);
        if (offset < area.ValuesSize()) return false;
        for (uint64_t at = offset; at + 2 <= area.size && *budget >= 2; at += 2) {
            *budget -= 2;
            if (devce::ReadU16(area.bytes + at) == 0) {
                *bytes = static_cast<size_t>(at + 2 - offset);
                return true;
            }
        }
        return false;
    }
    case CEVT_BLOB: {
        const uint64_t count = ReadU32(data);
        const uint64_t offset = ReadU32(data + 4);
        if (offset < area.ValuesSize() || offset + count > area.size || count > *budget) return false;
        *budget -= count;
        *bytes = static_cast<size_t>(count);
        return true;
    }
    default: return true;
    }
}

// Checks every data item and measures it once, for the sizing and the copy.
bool AreaHoldsTogether(const WireArea &area, std::vector<size_t> *itemBytes) {
    if (area.ValuesSize() > area.size) return false;
    uint64_t budget = area.size - area.ValuesSize();
    itemBytes->assign(area.count, 0);
    for (size_t i = 0; i < area.count; ++i) {
        if (!DataItemInside(area, area.Value(i), &budget, &(*itemBytes)[i])) return false;
    }
    return true;
}

// Strings start on an even byte of the caller's copy, so that it can read them as
// WCHARs wherever the device put them (after an odd-sized blob, say).
uint64_t PlaceItem(uint64_t cursor, uint32_t type) {
    return type == CEVT_LPWSTR ? (cursor + 1) & ~uint64_t{1} : cursor;
}

// The caller gets native CePropVal records (wider than 16 bytes where pointers are
// 8 bytes) followed by a copy of each string and blob, in the order of the values,
// with every pointer aimed at its copy.
uint64_t NativeAreaSize(const WireArea &area, const std::vector<size_t> &itemBytes) {
    uint64_t cursor = 0;
    for (size_t i = 0; i < area.count; ++i) cursor = PlaceItem(cursor, PropType(ReadU32(area.Value(i)))) + itemBytes[i];
    return uint64_t{area.count} * sizeof(CePropVal) + cursor;
}

void UnpackArea(const WireArea &area, const std::vector<size_t> &itemBytes, uint8_t *destination) {
    auto *values = reinterpret_cast<CePropVal *>(destination);
    uint8_t *data = destination + size_t{area.count} * sizeof(CePropVal);
    size_t cursor = 0;
    for (size_t i = 0; i < area.count; ++i) {
        const uint8_t *wire = area.Value(i);
        const uint8_t *wireData = wire + kWireValueDataOffset;
        CePropVal value{};
        value.propid = ReadU32(wire);
        value.wLenData = devce::ReadU16(wire + 4);
        value.wFlags = devce::ReadU16(wire + 6);
        const uint32_t type = PropType(value.propid);
        cursor = static_cast<size_t>(PlaceItem(cursor, type));
        const size_t bytes = itemBytes[i];
        switch (type) {
        case CEVT_LPWSTR:
            std::memcpy(data + cursor, area.bytes + ReadU32(wireData), bytes);
            value.val.lpwstr = reinterpret_cast<WCHAR *>(data + cursor);
            break;
        case CEVT_BLOB:
            if (bytes != 0) std::memcpy(data + cursor, area.bytes + ReadU32(wireData + 4), bytes);
            value.val.blob.dwCount = ReadU32(wireData);
            value.val.blob.lpb = data + cursor;
            break;
        default: std::memcpy(&value.val.raw, wireData, 8); break;
        }
        cursor += bytes;
        std::memcpy(&values[i], &value, sizeof value);
    }
}

// Where the area goes: the caller's buffer when it is large enough, else a new block
// when the flags allow one. Null with the last error set when neither.
uint8_t *Destination(DWORD flags, uint8_t *buffer, DWORD bufferSize, size_t needed, bool *fresh) {
    *fresh = false;
    if (buffer != nullptr && bufferSize >= needed) return buffer;
    const bool mayAllocate = buffer == nullptr ? flags != 0 : flags == 1;
    if (!mayAllocate) return Refuse(CE_ERROR_INSUFFICIENT_BUFFER, static_cast<uint8_t *>(nullptr));
    auto *block = static_cast<uint8_t *>(platform::LocalAllocZeroed(needed));
    if (block == nullptr) return Refuse(devce::kErrorNotEnoughMemory, static_cast<uint8_t *>(nullptr));
    *fresh = true;
    return block;
}

}  // namespace

CEOID DevCeWriteRecordProps(DEVHANDLE database, CEOID record, uint16_t count, const CePropVal *values) {
    if (values == nullptr && count != 0) return Refuse(devce::kErrorInvalidArgument, CEOID{0});
    std::vector<uint64_t> itemBytes;
    if (!MeasureDataItems(count, values, &itemBytes)) return Refuse(devce::kErrorInvalidArgument, CEOID{0});
    uint64_t areaSize = uint64_t{count} * kWireValueSize;
    for (uint64_t bytes : itemBytes) areaSize += bytes;
    if (areaSize > 0x7FFFFFFFull - kWriteHeaderSize) return Refuse(devce::kErrorInvalidArgument, CEOID{0});

    Request request(kWriteHeaderSize + static_cast<size_t>(areaSize));
    request.U32(database).U32(record).U16(count).U32(static_cast<uint32_t>(areaSize));
    uint64_t dataOffset = uint64_t{count} * kWireValueSize;
    for (uint16_t i = 0; i < count; ++i) {
        PutWireValue(request, values[i], static_cast<uint32_t>(dataOffset));
        dataOffset += itemBytes[i];
    }
    for (uint16_t i = 0; i < count; ++i) PutDataItem(request, values[i], itemBytes[i]);
    if (!request.Ok()) return Refuse(devce::kErrorNotEnoughMemory, CEOID{0});

    Response response(CE_TEXT("DevCeWriteRecordProps"), request);
    return response.SucceededBySize(4) ? response.U32At(0) : 0;
}

CEOID DevCeReadRecordPropsEx(DEVHANDLE database, DWORD flags, uint16_t *count, const CEPROPID *ids, uint8_t **buffer,
                             DWORD *bufferSize, void * /*heap: not sent*/) {
    if (buffer == nullptr || bufferSize == nullptr) return Refuse(CE_ERROR_INVALID_PARAMETER, CEOID{0});
    const uint16_t asked = ids != nullptr && count != nullptr ? *count : 0;
    Request request(16 + size_t{asked} * 4);
    request.U32(database).U32(flags).U32(*bufferSize).U16(asked).U16(0);
    for (uint16_t i = 0; i < asked; ++i) request.U32(ids[i]);
    if (!request.Ok()) return Refuse(devce::kErrorNotEnoughMemory, CEOID{0});

    Response response(CE_TEXT("DevCeReadRecordPropsEx"), request);
    if (!response.SucceededByCode()) return 0;
    if (response.Size() < kReadHeaderSize) return response.Failed(CEOID{0});
    const WireArea area{response.Bytes() + kReadHeaderSize, response.Size() - kReadHeaderSize, response.U16At(4)};
    std::vector<size_t> itemBytes;
    if (!AreaHoldsTogether(area, &itemBytes)) return response.Failed(CEOID{0});
    const uint64_t needed = NativeAreaSize(area, itemBytes);
    if (needed > 0xFFFFFFFFull) return response.Failed(CEOID{0});

    if (count != nullptr) *count = area.count;
    if (needed == 0) {
        *bufferSize = 0;
        return response.U32At(0);
    }
    bool fresh = false;
    uint8_t *destination = Destination(flags, *buffer, *bufferSize, static_cast<size_t>(needed), &fresh);
    if (destination == nullptr) return 0;
    if (fresh && *buffer != nullptr) platform::LocalFree(*buffer);
    UnpackArea(area, itemBytes, destination);
    *buffer = destination;
    *bufferSize = static_cast<DWORD>(needed);
    return response.U32At(0);
}
