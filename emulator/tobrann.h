// The device-side database server `Tobrann`: the DevCe... functions that the plug-in
// reaches through CeRapiInvoke(L"Tobrann", ...), with Windows CE database semantics
// over the volumes of the phone image (volume.h). TobrannInvoke itself is declared
// in emulator.h, where CeRapiInvoke meets it.
#ifndef CEEMU_TOBRANN_H
#define CEEMU_TOBRANN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "emulator.h"
#include "volume.h"

namespace ceemu::tobrann {

// Win32 codes the server answers with (the device function's result).
constexpr uint32_t kOk = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kNotFound = 1168;

// A name field of the requests: MAX_PATH UTF-16 characters.
constexpr size_t kNameField = 520;
// The flag on a property the record does not hold (CEDB_PROPNOTFOUND).
constexpr uint16_t kPropNotFound = 0x0400;

using Guid = std::array<uint8_t, 16>;

// A request as it arrived; every read is checked against its size by the caller
// (Has) before it is made.
class Input {
public:
    Input(const BYTE *data, DWORD size) : m_data(data), m_size(data != nullptr ? size : 0) {}
    size_t Size() const { return m_size; }
    bool Has(uint64_t bytes) const { return bytes <= m_size; }
    const uint8_t *At(size_t offset) const { return m_data + offset; }
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;
    Guid GuidAt(size_t offset) const;
    // A fixed UTF-16 field: the text up to its zero or the field's end.
    std::u16string WideField(size_t offset, size_t bytes) const;

private:
    const BYTE *m_data;
    size_t m_size;
};

// A response being built.
class Output {
public:
    void U16(uint16_t value);
    void U32(uint32_t value);
    void U64(uint64_t value);
    void Bytes(const void *data, size_t size);
    void Zeros(size_t size) { m_bytes.resize(m_bytes.size() + size, 0); }
    // A fixed UTF-16 field of `bytes` bytes: the text cut to fit, zero-padded.
    void WideField(const std::u16string &text, size_t bytes);
    std::vector<uint8_t> &Buffer() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Device-side objects behind the 32-bit handles.
struct SessionObject {
    Guid volume;
};
struct Enumeration {
    Guid volume;
    uint32_t type;  // 0: every database
    size_t next = 0;
};
struct OpenDatabase {
    Guid volume;
    uint32_t database;
    uint32_t session;
    bool autoIncrement;
    size_t cursor = 0;  // index of the current record
};
struct Stream {
    Guid volume;
    uint32_t record;
    uint32_t propid;
    std::vector<uint8_t> bytes;
    size_t position = 0;
};
using HandleObject = std::variant<SessionObject, Enumeration, OpenDatabase, Stream>;

// A volume the server holds: its file's state plus the journal lines after it.
struct MountedVolume {
    Guid guid{};
    std::string path;
    Volume volume;
    uint32_t mounts = 0;
    std::string text;           // the volume file's text as last read or written
    std::string stamp;          // its size and time then; empty until it is read
    uint64_t journalBytes = 0;  // how much of the journal `volume` holds
    bool unreadable = false;    // the files could not be read at the last look: no changes
};

class Server {
public:
    uint32_t Dispatch(const std::u16string &function, const Input &in, Output &out, bool *known);
    // The link ended: its mounts and handles go. The counters stay, so an identifier
    // kept from that link never names something of the next one.
    void EndLink();

private:
    using Handler = uint32_t (Server::*)(const Input &, Output &);
    static const std::map<std::u16string, Handler> &Handlers();

    // volumes and sessions (tobrann.cpp)
    uint32_t GetPhoneNumber(const Input &in, Output &out);
    uint32_t MountDBVolEx(const Input &in, Output &out);
    uint32_t UnmountDBVol(const Input &in, Output &out);
    uint32_t FlushDBVol(const Input &in, Output &out);
    uint32_t EnumDBVolumes(const Input &in, Output &out);
    uint32_t ChangeDatabaseLCID(const Input &in, Output &out);
    uint32_t CreateSession(const Input &in, Output &out);
    uint32_t SetSessionOption(const Input &in, Output &out);
    uint32_t BeginTransaction(const Input &in, Output &out);
    uint32_t EndTransaction(const Input &in, Output &out);
    uint32_t FreeNotification(const Input &in, Output &out);
    // databases (tobrann_databases.cpp)
    uint32_t CreateDatabaseWithProps(const Input &in, Output &out);
    uint32_t DeleteDatabaseEx(const Input &in, Output &out);
    uint32_t FindFirstDatabaseEx(const Input &in, Output &out);
    uint32_t FindNextDatabaseEx(const Input &in, Output &out);
    uint32_t OidGetInfoEx2(const Input &in, Output &out);
    uint32_t OpenDatabaseInSession(const Input &in, Output &out);
    uint32_t GetDatabaseSession(const Input &in, Output &out);
    uint32_t GetDBInformationByHandle(const Input &in, Output &out);
    uint32_t SetDatabaseInfo(const Input &in, Output &out);
    uint32_t AddDatabaseProps(const Input &in, Output &out);
    uint32_t RemoveDatabaseProps(const Input &in, Output &out);
    uint32_t GetDatabaseProps(const Input &in, Output &out);
    // records and streams (tobrann_records.cpp)
    uint32_t SeekDatabaseEx(const Input &in, Output &out);
    uint32_t ReadRecordPropsEx(const Input &in, Output &out);
    uint32_t WriteRecordProps(const Input &in, Output &out);
    uint32_t DeleteRecord(const Input &in, Output &out);
    uint32_t OpenStream(const Input &in, Output &out);
    uint32_t StreamRead(const Input &in, Output &out);
    uint32_t StreamWrite(const Input &in, Output &out);
    uint32_t StreamSeek(const Input &in, Output &out);
    uint32_t StreamSetSize(const Input &in, Output &out);
    uint32_t StreamSaveChanges(const Input &in, Output &out);

    MountedVolume *FindVolume(const Guid &guid);
    uint32_t NewHandle(HandleObject object);
    template <typename T>
    T *Find(uint32_t handle) {
        auto found = m_handles.find(handle);
        return found == m_handles.end() ? nullptr : std::get_if<T>(&found->second);
    }
    // The database an open handle stands for; null when the handle, its volume or
    // the database is gone.
    Database *OpenedDatabase(uint32_t handle, OpenDatabase **opened, MountedVolume **volume = nullptr);
    // Writes a record change to the volume's journal, then makes it.
    uint32_t Commit(MountedVolume &mounted, const RecordChange &change);
    // Writes the whole volume to its file; when that fails the volume goes back to
    // `before`.
    uint32_t Persist(MountedVolume &mounted, Volume before);
    // Writes the whole volume to its file and ends its journal: the journal's lines
    // are then in the file.
    bool Fold(MountedVolume &mounted);
    // Brings a volume to what its files hold: the volume file parsed again unless
    // its text is the one held, then the journal lines not yet applied.
    uint32_t Load(MountedVolume &mounted);
    // The same before a change, cheaply: what another process wrote since this one
    // last read or wrote the files, so a change never builds on a stale copy.
    void Refresh(MountedVolume &mounted);
    uint32_t CatchUp(MountedVolume &mounted);

    // Keeps a volume the server stops holding, its journal folded, for a later
    // mount of the same file (the next link mounts the same volumes again).
    void Forget(MountedVolume &mounted);
    // The kept volume of `path`, or a new one.
    std::unique_ptr<MountedVolume> TakeForgotten(const std::string &path);

    std::vector<std::unique_ptr<MountedVolume>> m_volumes;    // in mount order
    std::vector<std::unique_ptr<MountedVolume>> m_forgotten;  // the latest few, newest last
    std::map<uint32_t, HandleObject> m_handles;
    uint32_t m_nextHandle = 0x1000;
    uint32_t m_mountSerial = 0;
};

// The database information record (CEDBASEINFOEX, 2460 bytes) of a database.
void PutDatabaseInfo(Output &out, const Database &database);

}  // namespace ceemu::tobrann

#endif  // CEEMU_TOBRANN_H
