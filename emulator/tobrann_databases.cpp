// The database server's database functions: create, delete, enumerate, describe,
// open, and the declared properties of a database.
#include "tobrann.h"

#include <algorithm>

namespace ceemu::tobrann {
namespace {

constexpr size_t kDatabaseInfo = 2460;
constexpr size_t kObjectInfo = 2464;
constexpr size_t kInfoByHandle = 2484;
constexpr size_t kPropSpec = 20;
constexpr size_t kPropNameSlot = 256;
constexpr size_t kDatabaseNameField = 256;  // 128 characters in the database information
constexpr uint16_t kObjectTypeDatabase = 3;
constexpr uint16_t kObjectTypeRecord = 4;
constexpr uint32_t kAutoIncrement = 0x1;  // CEDB_AUTOINCREMENT
constexpr uint32_t kValidName = 0x1;      // CEDB_VALIDNAME
constexpr uint32_t kValidType = 0x2;      // CEDB_VALIDTYPE

// Where the fields sit inside a database information record.
constexpr size_t kInfoFlags = 4;
constexpr size_t kInfoName = 8;
constexpr size_t kInfoType = 264;

void PutPropertySpec(Output &out, const PropertySpec &spec, uint32_t extraFlags) {
    out.U32(1);  // version
    out.U32(spec.id);
    out.U32(spec.flags | extraFlags);
    out.U32(0);  // no name pointer crosses the wire
    out.U32(static_cast<uint32_t>(spec.name.size()));
}

}  // namespace

void PutDatabaseInfo(Output &out, const Database &database) {
    out.U16(2);  // CEDBASEINFOEX version
    out.U16(0);  // sort orders: records keep their enumeration order
    out.U32(database.flags);
    out.WideField(database.name, kDatabaseNameField);
    out.U32(database.type);
    out.U32(static_cast<uint32_t>(database.records.size()));
    out.U32(static_cast<uint32_t>(std::min<uint64_t>(database.recordBytes, 0xFFFFFFFFu)));
    out.U64(database.modified);
    out.Zeros(kDatabaseInfo - (2 + 2 + 4 + kDatabaseNameField + 4 + 4 + 4 + 8));
}

// volume (16), database information (2460), n (4), propspecs-present word (4),
// n × 20 bytes of propspecs when present.
uint32_t Server::CreateDatabaseWithProps(const Input &in, Output &out) {
    constexpr size_t fixed = 16 + kDatabaseInfo + 8;
    if (!in.Has(fixed)) return kInvalidParameter;
    const uint32_t count = in.U32(16 + kDatabaseInfo);
    const bool withSpecs = in.U32(16 + kDatabaseInfo + 4) != 0;
    if (in.Size() != fixed + (withSpecs ? uint64_t{count} * kPropSpec : 0)) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    if (mounted == nullptr) return kInvalidParameter;
    Database database;
    database.name = in.WideField(16 + kInfoName, kDatabaseNameField);
    database.type = in.U32(16 + kInfoType);
    if (database.name.empty()) return kInvalidParameter;
    if (mounted->volume.FindDatabaseByName(database.name) != nullptr) return kAlreadyExists;
    for (uint32_t i = 0; withSpecs && i < count; ++i) {
        const size_t spec = fixed + size_t{i} * kPropSpec;
        database.declared.push_back({in.U32(spec + 4), in.U32(spec + 8), {}});
    }
    Volume before = mounted->volume;
    database.oid = mounted->volume.NewOid();
    database.modified = CurrentFileTime();
    const uint32_t oid = database.oid;
    mounted->volume.databases.push_back(std::move(database));
    const uint32_t code = Persist(*mounted, std::move(before));
    if (code == kOk) out.U32(oid);
    return code;
}

uint32_t Server::DeleteDatabaseEx(const Input &in, Output &) {
    if (in.Size() != 20) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    if (mounted == nullptr) return kInvalidParameter;
    auto &databases = mounted->volume.databases;
    const uint32_t oid = in.U32(16);
    const auto found = std::find_if(databases.begin(), databases.end(), [oid](auto &d) { return d.oid == oid; });
    if (found == databases.end()) return kNotFound;
    Volume before = mounted->volume;
    databases.erase(found);
    return Persist(*mounted, std::move(before));
}

uint32_t Server::FindFirstDatabaseEx(const Input &in, Output &out) {
    if (in.Size() != 20) return kInvalidParameter;
    const Guid guid = in.GuidAt(0);
    if (FindVolume(guid) == nullptr) return kInvalidParameter;
    out.U32(NewHandle(Enumeration{guid, in.U32(16)}));
    return kOk;
}

// enumeration handle (4), volume (16, zero when none; the enumeration knows its own).
uint32_t Server::FindNextDatabaseEx(const Input &in, Output &out) {
    if (in.Size() != 20 && in.Size() != 4) return kInvalidParameter;
    Enumeration *enumeration = Find<Enumeration>(in.U32(0));
    MountedVolume *mounted = enumeration != nullptr ? FindVolume(enumeration->volume) : nullptr;
    if (mounted == nullptr) return kInvalidHandle;
    const auto &databases = mounted->volume.databases;
    while (enumeration->next < databases.size()) {
        const Database &database = databases[enumeration->next++];
        if (enumeration->type == 0 || database.type == enumeration->type) {
            out.U32(database.oid);
            return kOk;
        }
    }
    return kNoMoreItems;
}

// version (2), object type (2), then the database information or the record's parent.
uint32_t Server::OidGetInfoEx2(const Input &in, Output &out) {
    if (in.Size() != 20) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    if (mounted == nullptr) return kInvalidParameter;
    const uint32_t oid = in.U32(16);
    Database *owner = nullptr;
    out.U16(1);
    if (const Database *database = mounted->volume.FindDatabase(oid)) {
        out.U16(kObjectTypeDatabase);
        PutDatabaseInfo(out, *database);
    } else if (mounted->volume.FindRecord(oid, &owner) != nullptr) {
        out.U16(kObjectTypeRecord);
        out.U32(owner->oid);
    } else {
        return kNotFound;
    }
    out.Zeros(kObjectInfo - out.Buffer().size());
    return kOk;
}

// session (4), volume (16), object id (4), name (520), sort order (136), flags (4),
// notification request (20). The object id wins over the name when it is not 0.
uint32_t Server::OpenDatabaseInSession(const Input &in, Output &out) {
    if (in.Size() != 704) return kInvalidParameter;
    const SessionObject *session = Find<SessionObject>(in.U32(0));
    if (session == nullptr) return kInvalidHandle;
    const Guid guid = session->volume;
    MountedVolume *mounted = FindVolume(guid);
    if (mounted == nullptr || in.GuidAt(4) != guid) return kInvalidParameter;
    const uint32_t oid = in.U32(20);
    const Database *database =
        oid != 0 ? mounted->volume.FindDatabase(oid) : mounted->volume.FindDatabaseByName(in.WideField(24, kNameField));
    if (database == nullptr) return kFileNotFound;
    const bool autoIncrement = (in.U32(24 + kNameField + 136) & kAutoIncrement) != 0;
    out.U32(NewHandle(OpenDatabase{guid, database->oid, in.U32(0), autoIncrement}));
    return kOk;
}

uint32_t Server::GetDatabaseSession(const Input &in, Output &out) {
    if (in.Size() != 4) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    if (OpenedDatabase(in.U32(0), &opened) == nullptr) return kInvalidHandle;
    out.U32(opened->session);
    return kOk;
}

// version (2), sort orders (2), volume (16), database id (4), database information.
uint32_t Server::GetDBInformationByHandle(const Input &in, Output &out) {
    if (in.Size() != 4) return kInvalidParameter;
    OpenDatabase *opened = nullptr;
    const Database *database = OpenedDatabase(in.U32(0), &opened);
    if (database == nullptr) return kInvalidHandle;
    out.U16(1);
    out.U16(0);
    out.Bytes(opened->volume.data(), opened->volume.size());
    out.U32(database->oid);
    PutDatabaseInfo(out, *database);
    return out.Buffer().size() == kInfoByHandle ? kOk : kInvalidData;
}

// database id (4), database information (2460): renames and retypes as its flags say.
uint32_t Server::SetDatabaseInfo(const Input &in, Output &) {
    if (in.Size() != 4 + kDatabaseInfo) return kInvalidParameter;
    const uint32_t oid = in.U32(0);
    for (auto &mounted : m_volumes) {
        Database *database = mounted->volume.FindDatabase(oid);
        if (database == nullptr) continue;
        const uint32_t flags = in.U32(4 + kInfoFlags);
        const std::u16string name = in.WideField(4 + kInfoName, kDatabaseNameField);
        if (flags & kValidName) {
            const Database *named = mounted->volume.FindDatabaseByName(name);
            if (name.empty()) return kInvalidParameter;
            if (named != nullptr && named != database) return kAlreadyExists;
        }
        Volume before = mounted->volume;
        if (flags & kValidName) database->name = name;
        if (flags & kValidType) database->type = in.U32(4 + kInfoType);
        database->modified = CurrentFileTime();
        return Persist(*mounted, std::move(before));
    }
    return kNotFound;
}

// volume (16), database id (4), n (4), propspecs-present word (4),
// n × 20 bytes of propspecs, n × 256 bytes of names.
uint32_t Server::AddDatabaseProps(const Input &in, Output &) {
    if (!in.Has(28)) return kInvalidParameter;
    const uint32_t count = in.U32(20);
    if (count == 0 || in.U32(24) == 0 || in.Size() != 28 + uint64_t{count} * (kPropSpec + kPropNameSlot)) {
        return kInvalidParameter;
    }
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    Database *database = mounted != nullptr ? mounted->volume.FindDatabase(in.U32(16)) : nullptr;
    if (database == nullptr) return mounted == nullptr ? kInvalidParameter : kNotFound;
    Volume before = mounted->volume;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t spec = 28 + size_t{i} * kPropSpec;
        const size_t name = 28 + size_t{count} * kPropSpec + size_t{i} * kPropNameSlot;
        PropertySpec added{in.U32(spec + 4), in.U32(spec + 8), in.WideField(name, kPropNameSlot)};
        auto &declared = database->declared;
        auto same = std::find_if(declared.begin(), declared.end(), [&](auto &d) { return d.id == added.id; });
        if (same == declared.end())
            declared.push_back(std::move(added));
        else
            *same = std::move(added);
    }
    return Persist(*mounted, std::move(before));
}

// volume (16), database id (4), n (4), n property ids.
uint32_t Server::RemoveDatabaseProps(const Input &in, Output &) {
    if (!in.Has(24) || in.Size() != 24 + uint64_t{in.U32(20)} * 4) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    Database *database = mounted != nullptr ? mounted->volume.FindDatabase(in.U32(16)) : nullptr;
    if (database == nullptr) return mounted == nullptr ? kInvalidParameter : kNotFound;
    Volume before = mounted->volume;
    for (uint32_t i = 0; i < in.U32(20); ++i) {
        const uint32_t id = in.U32(24 + size_t{i} * 4);
        std::erase_if(database->declared, [id](const PropertySpec &spec) { return spec.id == id; });
    }
    return Persist(*mounted, std::move(before));
}

// handle (4), n (2), zero (2), ids-present word (4), propspecs-present word (4),
// then n × 20 bytes (each a propspec holding only its id) when ids are present.
uint32_t Server::GetDatabaseProps(const Input &in, Output &out) {
    if (!in.Has(16)) return kInvalidParameter;
    const uint16_t asked = in.U16(4);
    const bool withIds = in.U32(8) != 0;
    const bool wantSpecs = in.U32(12) != 0;
    if (in.Size() != 16 + (withIds ? size_t{asked} * kPropSpec : 0)) return kInvalidParameter;
    const Database *database = OpenedDatabase(in.U32(0), nullptr);
    if (database == nullptr) return kInvalidHandle;
    if (!withIds) {
        out.U16(static_cast<uint16_t>(database->declared.size()));
        for (const PropertySpec &spec : database->declared) {
            if (wantSpecs) PutPropertySpec(out, spec, 0);
        }
        return kOk;
    }
    out.U16(asked);
    for (uint16_t i = 0; wantSpecs && i < asked; ++i) {
        const uint32_t id = in.U32(16 + size_t{i} * kPropSpec + 4);
        const auto &declared = database->declared;
        const auto found = std::find_if(declared.begin(), declared.end(), [id](auto &d) { return d.id == id; });
        if (found != declared.end())
            PutPropertySpec(out, *found, 0);
        else
            PutPropertySpec(out, PropertySpec{id, 0, {}}, kPropNotFound);
    }
    return kOk;
}

}  // namespace ceemu::tobrann
