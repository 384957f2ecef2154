// The database server's record functions: seek, read, write and delete records, and
// streams over a record's blob or string property. Properties travel in a property
// area: n 16-byte values, then their strings and blobs, whose pointer fields hold
// byte offsets from the start of the area.
#include "tobrann.h"

#include <algorithm>

namespace ceemu::tobrann {
namespace {

constexpr size_t kWireValue = 16;
constexpr uint32_t kSeekByOid = 0x1;        // CEDB_SEEK_CEOID
constexpr uint32_t kSeekFromStart = 0x2;    // CEDB_SEEK_BEGINNING
constexpr uint32_t kSeekFromEnd = 0x4;      // CEDB_SEEK_END
constexpr uint32_t kSeekFromCurrent = 0x8;  // CEDB_SEEK_CURRENT
constexpr uint16_t kPropDelete = 0x0200;    // CEDB_PROPDELETE

// ---- the property area -------------------------------------------------------------------

void PutArea(Output &out, const std::vector<const Property *> &properties, const std::vector<uint32_t> &missing) {
    const size_t count = properties.size() + missing.size();
    uint32_t dataOffset = static_cast<uint32_t>(count * kWireValue);
    for (const Property *property : properties) {
        out.U32(property->id);
        switch (property->Type()) {
        case kTypeString:
            out.U16(static_cast<uint16_t>(std::min<size_t>(property->text.size(), 0xFFFF)));
            out.U16(0);
            out.U32(dataOffset);
            out.U32(0);
            dataOffset += static_cast<uint32_t>((property->text.size() + 1) * 2);
            break;
        case kTypeBlob:
            out.U16(static_cast<uint16_t>(std::min<size_t>(property->bytes.size(), 0xFFFF)));
            out.U16(0);
            out.U32(static_cast<uint32_t>(property->bytes.size()));
            out.U32(dataOffset);
            dataOffset += static_cast<uint32_t>(property->bytes.size());
            break;
        default:
            out.U16(0);
            out.U16(0);
            out.U64(property->number);
            break;
        }
    }
    for (uint32_t id : missing) {
        out.U32(id);
        out.U16(0);
        out.U16(kPropNotFound);
        out.U64(0);
    }
    for (const Property *property : properties) {
        if (property->Type() == kTypeString) {
            for (char16_t character : property->text) out.U16(character);
            out.U16(0);
        } else if (property->Type() == kTypeBlob) {
            out.Bytes(property->bytes.data(), property->bytes.size());
        }
    }
}

struct WireProperty {
    Property property;
    uint16_t flags;
};

// Reads `count` values from the area at `base` (`size` bytes); false when a value,
// string or blob does not lie inside it, or when the strings and blobs together need
// more than the data area (they never share bytes), which also bounds the work.
bool ReadArea(const Input &in, size_t base, size_t size, uint16_t count, std::vector<WireProperty> *properties) {
    const uint64_t valuesEnd = uint64_t{count} * kWireValue;
    if (valuesEnd > size) return false;
    uint64_t budget = size - valuesEnd;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = base + i * kWireValue;
        WireProperty wire{{}, in.U16(at + 6)};
        Property &property = wire.property;
        property.id = in.U32(at);
        const uint32_t low = in.U32(at + 8), high = in.U32(at + 12);
        switch (property.Type()) {
        case kTypeString: {
            if (low < valuesEnd) return false;
            uint64_t offset = low;
            for (; offset + 2 <= size && budget >= 2 && in.U16(base + offset) != 0; offset += 2, budget -= 2) {
                property.text.push_back(static_cast<char16_t>(in.U16(base + offset)));
            }
            if (offset + 2 > size || budget < 2) return false;  // no zero inside the area
            budget -= 2;
            break;
        }
        case kTypeBlob:
            if (high < valuesEnd || uint64_t{high} + low > size || low > budget) return false;
            budget -= low;
            property.bytes.assign(in.At(base + high), in.At(base + high) + low);
            break;
        case kTypeI2:
        case kTypeUi2: property.number = low & 0xFFFF; break;
        case kTypeI4:
        case kTypeUi4:
        case kTypeBool: property.number = low; break;
        default: property.number = (uint64_t{high} << 32) | low; break;
        }
        properties->push_back(std::move(wire));
    }
    return true;
}

void MergeProperties(Record &record, const std::vector<WireProperty> &written) {
    for (const WireProperty &wire : written) {
        const uint16_t number = wire.property.Number();
        std::erase_if(record.properties, [number](const Property &p) { return p.Number() == number; });
        if (!(wire.flags & kPropDelete)) record.properties.push_back(wire.property);
    }
}

Property *FindProperty(Record &record, uint32_t id) {
    for (Property &property : record.properties) {
        if (property.id == id) return &property;
    }
    return nullptr;
}

std::vector<uint8_t> StreamBytes(const Property &property) {
    if (property.Type() == kTypeBlob) return property.bytes;
    std::vector<uint8_t> bytes;
    for (char16_t character : property.text) {
        bytes.push_back(static_cast<uint8_t>(character));
        bytes.push_back(static_cast<uint8_t>(character >> 8));
    }
    return bytes;
}

}  // namespace

// handle (4), seek type (4), value (4), number of values (2), zero (2).
// From the start, value v is the v-th record (0 and 1 both the first); from the end,
// v records back from the last; from the current record, v (signed) records on.
uint32_t Server::SeekDatabaseEx(const Input &in, Output &out) {
    if (in.Size() != 16) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    const Database *database = OpenedDatabase(in.U32(0), &opened);
    if (database == nullptr) return kInvalidHandle;
    const uint32_t value = in.U32(8);
    const int64_t size = static_cast<int64_t>(database->records.size());
    int64_t index = -1;
    switch (in.U32(4)) {
    case kSeekByOid:
        for (int64_t i = 0; i < size; ++i) {
            if (database->records[static_cast<size_t>(i)].oid == value) index = i;
        }
        if (index < 0) return kNotFound;
        break;
    case kSeekFromStart: index = value == 0 ? 0 : int64_t{value} - 1; break;
    case kSeekFromEnd: index = size - 1 - int64_t{value}; break;
    case kSeekFromCurrent: index = static_cast<int64_t>(opened->cursor) + static_cast<int32_t>(value); break;
    default: return kInvalidParameter;  // value seeks need sort orders, which no database has
    }
    if (index < 0 || index >= size) return kNoMoreItems;
    opened->cursor = static_cast<size_t>(index);
    out.U32(database->records[opened->cursor].oid);
    out.U32(static_cast<uint32_t>(index));
    return kOk;
}

// handle (4), flags (4), the caller's buffer size (4), n (2), zero (2), n ids.
// Answers record id (4), count (2) and the property area; past the last record
// nothing, with 259.
uint32_t Server::ReadRecordPropsEx(const Input &in, Output &out) {
    if (!in.Has(16) || in.Size() != 16 + size_t{in.U16(12)} * 4) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    Database *database = OpenedDatabase(in.U32(0), &opened);
    if (database == nullptr) return kInvalidHandle;
    if (opened->cursor >= database->records.size()) return kNoMoreItems;
    Record &record = database->records[opened->cursor];
    std::vector<const Property *> found;
    std::vector<uint32_t> missing;
    if (in.U16(12) == 0) {
        for (const Property &property : record.properties) found.push_back(&property);
    } else {
        for (size_t i = 0; i < in.U16(12); ++i) {
            const uint32_t id = in.U32(16 + i * 4);
            if (const Property *property = FindProperty(record, id))
                found.push_back(property);
            else
                missing.push_back(id);
        }
    }
    if (found.size() + missing.size() > 0xFFFF) return kInvalidData;
    out.U32(record.oid);
    out.U16(static_cast<uint16_t>(found.size() + missing.size()));
    PutArea(out, found, missing);
    if (opened->autoIncrement) ++opened->cursor;
    return kOk;
}

// handle (4), record id (4, 0 creates), n (2), area length L (4), area (L).
uint32_t Server::WriteRecordProps(const Input &in, Output &out) {
    if (!in.Has(14) || in.Size() != 14 + uint64_t{in.U32(10)}) return kInvalidParameter;
    std::vector<WireProperty> written;
    if (!ReadArea(in, 14, in.U32(10), in.U16(8), &written)) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    MountedVolume *mounted = nullptr;
    Database *database = OpenedDatabase(in.U32(0), &opened, &mounted);
    if (database == nullptr) return kInvalidHandle;
    const uint32_t oid = in.U32(4);
    RecordChange change{database->oid, CurrentFileTime(), false, {}};
    if (oid == 0) {
        change.record.oid = mounted->volume.NewOid();
    } else {
        const auto found = std::find_if(database->records.begin(), database->records.end(),
                                        [oid](const Record &r) { return r.oid == oid; });
        if (found == database->records.end()) return kNotFound;
        change.record = *found;
    }
    MergeProperties(change.record, written);
    const uint32_t code = Commit(*mounted, change);
    if (code == kOk) out.U32(change.record.oid);
    return code;
}

// handle (4), record id (4). Cursors after the record move back with it.
uint32_t Server::DeleteRecord(const Input &in, Output &) {
    if (in.Size() != 8) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    MountedVolume *mounted = nullptr;
    Database *database = OpenedDatabase(in.U32(0), &opened, &mounted);
    if (database == nullptr) return kInvalidHandle;
    const uint32_t oid = in.U32(4);
    auto &records = database->records;
    const auto found = std::find_if(records.begin(), records.end(), [oid](const Record &r) { return r.oid == oid; });
    if (found == records.end()) return kNotFound;
    const size_t index = static_cast<size_t>(found - records.begin());
    const uint32_t code = Commit(*mounted, RecordChange{database->oid, CurrentFileTime(), true, Record{oid, {}}});
    if (code != kOk) return code;
    for (auto &[handle, object] : m_handles) {
        auto *other = std::get_if<OpenDatabase>(&object);
        if (other != nullptr && other->volume == opened->volume && other->database == database->oid &&
            other->cursor > index) {
            --other->cursor;
        }
    }
    return kOk;
}

// ---- streams over the current record's blob or string property --------------------------

// database handle (4), property id (4), mode (4).
uint32_t Server::OpenStream(const Input &in, Output &out) {
    if (in.Size() != 12) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    Database *database = OpenedDatabase(in.U32(0), &opened);
    if (database == nullptr) return kInvalidHandle;
    if (opened->cursor >= database->records.size()) return kNoMoreItems;
    Record &record = database->records[opened->cursor];
    const uint32_t id = in.U32(4);
    const uint16_t type = static_cast<uint16_t>(id & 0xFFFF);
    if (type != kTypeBlob && type != kTypeString) return kInvalidParameter;
    Stream stream{opened->volume, record.oid, id, {}};
    if (const Property *property = FindProperty(record, id)) stream.bytes = StreamBytes(*property);
    out.U32(NewHandle(std::move(stream)));
    return kOk;
}

// handle (4), byte count (4): answers the bytes read (4) and the bytes.
uint32_t Server::StreamRead(const Input &in, Output &out) {
    if (in.Size() != 8) return kInvalidParameter;
    Stream *stream = Find<Stream>(in.U32(0));
    if (stream == nullptr) return kInvalidHandle;
    const size_t available = stream->position < stream->bytes.size() ? stream->bytes.size() - stream->position : 0;
    const size_t count = std::min<size_t>(available, in.U32(4));
    out.U32(static_cast<uint32_t>(count));
    out.Bytes(stream->bytes.data() + stream->position, count);
    stream->position += count;
    return kOk;
}

// handle (4), byte count (4), the bytes: answers the bytes written (4).
uint32_t Server::StreamWrite(const Input &in, Output &out) {
    if (!in.Has(8) || in.Size() != 8 + uint64_t{in.U32(4)}) return kInvalidParameter;
    Stream *stream = Find<Stream>(in.U32(0));
    if (stream == nullptr) return kInvalidHandle;
    const size_t count = in.U32(4);
    if (stream->bytes.size() < stream->position + count) stream->bytes.resize(stream->position + count);
    std::copy(in.At(8), in.At(8) + count, stream->bytes.begin() + static_cast<ptrdiff_t>(stream->position));
    stream->position += count;
    out.U32(static_cast<uint32_t>(count));
    return kOk;
}

// handle (4), distance (4, signed), origin (4: 0 start, 1 current, 2 end).
uint32_t Server::StreamSeek(const Input &in, Output &out) {
    if (in.Size() != 12) return kInvalidParameter;
    Stream *stream = Find<Stream>(in.U32(0));
    if (stream == nullptr) return kInvalidHandle;
    const int64_t distance = static_cast<int32_t>(in.U32(4));
    int64_t base = 0;
    switch (in.U32(8)) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(stream->position); break;
    case 2: base = static_cast<int64_t>(stream->bytes.size()); break;
    default: return kInvalidParameter;
    }
    if (base + distance < 0 || base + distance > 0xFFFFFFFFll) return kInvalidParameter;
    stream->position = static_cast<size_t>(base + distance);
    out.U32(static_cast<uint32_t>(stream->position));
    return kOk;
}

uint32_t Server::StreamSetSize(const Input &in, Output &) {
    if (in.Size() != 8) return kInvalidParameter;
    Stream *stream = Find<Stream>(in.U32(0));
    if (stream == nullptr) return kInvalidHandle;
    stream->bytes.resize(in.U32(4));
    return kOk;
}

// Writes the stream back into its record's property.
uint32_t Server::StreamSaveChanges(const Input &in, Output &) {
    if (in.Size() != 4) return kInvalidParameter;
    Stream *stream = Find<Stream>(in.U32(0));
    MountedVolume *mounted = stream != nullptr ? FindVolume(stream->volume) : nullptr;
    if (mounted == nullptr) return kInvalidHandle;
    Database *owner = nullptr;
    Record *record = mounted->volume.FindRecord(stream->record, &owner);
    if (record == nullptr) return kNotFound;
    Property saved;
    saved.id = stream->propid;
    if (saved.Type() == kTypeString) {
        if (stream->bytes.size() % 2 != 0) return kInvalidData;
        for (size_t i = 0; i < stream->bytes.size(); i += 2) {
            saved.text.push_back(static_cast<char16_t>(stream->bytes[i] | (stream->bytes[i + 1] << 8)));
        }
    } else {
        saved.bytes = stream->bytes;
    }
    RecordChange change{owner->oid, CurrentFileTime(), false, *record};
    MergeProperties(change.record, {WireProperty{std::move(saved), 0}});
    return Commit(*mounted, change);
}

}  // namespace ceemu::tobrann
