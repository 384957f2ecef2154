// The database server `Tobrann`: dispatch, volumes, sessions and the odd small
// functions. Databases are in tobrann_databases.cpp, records in tobrann_records.cpp.
#include "tobrann.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ceemu {
namespace tobrann {
namespace {

constexpr size_t kVolumeOptions = 112;
constexpr uint32_t kDispositionMask = 0xFF;
constexpr const char16_t *kPimVolume = u"\\pim.vol";
constexpr const char *kDefaultPhoneNumber = "01012345678";

bool Switch(const char *name) {
    const nlohmann::json &config = DeviceConfig();
    const auto found = config.find(name);
    return found != config.end() && found->is_boolean() && found->get<bool>();
}

bool IsStartGuid(const Guid &guid) {
    bool zero = true, ones = true;
    for (uint8_t byte : guid) {
        zero = zero && byte == 0;
        ones = ones && byte == 0xFF;
    }
    return zero || ones;
}

std::string FileStamp(const std::string &path) {
    std::error_code error;
    const auto file = HostPath(path);
    const auto size = std::filesystem::file_size(file, error);
    if (error) return {};
    const auto time = std::filesystem::last_write_time(file, error);
    if (error) return {};
    return std::to_string(size) + ":" + std::to_string(time.time_since_epoch().count());
}

bool SameText(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

BYTE *AllocateResponse(const std::vector<uint8_t> &bytes) {
#if defined(_WIN32)
    auto *block = static_cast<BYTE *>(LocalAlloc(LMEM_FIXED, bytes.size()));
#else
    auto *block = static_cast<BYTE *>(std::malloc(bytes.size()));
#endif
    if (block != nullptr) std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

}  // namespace

// ---- wire -------------------------------------------------------------------------

uint16_t Input::U16(size_t offset) const { return static_cast<uint16_t>(m_data[offset] | (m_data[offset + 1] << 8)); }

uint32_t Input::U32(size_t offset) const {
    return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
}

Guid Input::GuidAt(size_t offset) const {
    Guid guid;
    std::memcpy(guid.data(), m_data + offset, guid.size());
    return guid;
}

std::u16string Input::WideField(size_t offset, size_t bytes) const {
    std::u16string text;
    for (size_t at = offset; at + 2 <= offset + bytes; at += 2) {
        const char16_t character = static_cast<char16_t>(U16(at));
        if (character == 0) break;
        text.push_back(character);
    }
    return text;
}

void Output::U16(uint16_t value) {
    m_bytes.push_back(static_cast<uint8_t>(value));
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Output::U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
}

void Output::U64(uint64_t value) {
    U32(static_cast<uint32_t>(value));
    U32(static_cast<uint32_t>(value >> 32));
}

void Output::Bytes(const void *data, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
}

void Output::WideField(const std::u16string &text, size_t bytes) {
    const size_t characters = std::min(text.size(), bytes / 2 - 1);
    for (size_t i = 0; i < characters; ++i) U16(text[i]);
    Zeros(bytes - characters * 2);
}

// ---- dispatch -------------------------------------------------------------------------

const std::map<std::u16string, Server::Handler> &Server::Handlers() {
    static const std::map<std::u16string, Handler> handlers = {
        {u"DevCeGetPhoneNumber", &Server::GetPhoneNumber},
        {u"DevCeMountDBVolEx", &Server::MountDBVolEx},
        {u"DevCeCreateDatabaseWithProps", &Server::CreateDatabaseWithProps},
        {u"DevCeOidGetInfoEx2", &Server::OidGetInfoEx2},
        {u"DevCeCreateSession", &Server::CreateSession},
        {u"DevCeOpenDatabaseInSession", &Server::OpenDatabaseInSession},
        {u"DevCeGetDatabaseSession", &Server::GetDatabaseSession},
        {u"DevCeFlushDBVol", &Server::FlushDBVol},
        {u"DevCeWriteRecordProps", &Server::WriteRecordProps},
        {u"DevCeChangeDatabaseLCID", &Server::ChangeDatabaseLCID},
        {u"DevCeSeekDatabaseEx", &Server::SeekDatabaseEx},
        {u"DevCeDeleteDatabaseEx", &Server::DeleteDatabaseEx},
        {u"DevCeUnmountDBVol", &Server::UnmountDBVol},
        {u"DevCeEnumDBVolumes", &Server::EnumDBVolumes},
        {u"DevCeReadRecordPropsEx", &Server::ReadRecordPropsEx},
        {u"DevCeAddDatabaseProps", &Server::AddDatabaseProps},
        {u"DevCeDeleteRecord", &Server::DeleteRecord},
        {u"DevCeFindFirstDatabaseEx", &Server::FindFirstDatabaseEx},
        {u"DevCeFindNextDatabaseEx", &Server::FindNextDatabaseEx},
        {u"DevCeGetDatabaseProps", &Server::GetDatabaseProps},
        {u"DevCeRemoveDatabaseProps", &Server::RemoveDatabaseProps},
        {u"DevCeGetDBInformationByHandle", &Server::GetDBInformationByHandle},
        {u"DevCeSetDatabaseInfo", &Server::SetDatabaseInfo},
        {u"DevCeFreeNotification", &Server::FreeNotification},
        {u"DevCeSetSessionOption", &Server::SetSessionOption},
        {u"DevCeBeginTransaction", &Server::BeginTransaction},
        {u"DevCeEndTransaction", &Server::EndTransaction},
        {u"DevCeOpenStream", &Server::OpenStream},
        {u"DevCeStreamRead", &Server::StreamRead},
        {u"DecCeStreamSaveChanges", &Server::StreamSaveChanges},  // registered with "Dec"
        {u"DevCeStreamSetSize", &Server::StreamSetSize},
        {u"DevCeStreamSeek", &Server::StreamSeek},
        {u"DevCeStreamWrite", &Server::StreamWrite},
    };
    return handlers;
}

// The functions that write a volume: they start from the file's latest state.
bool ChangesVolume(const std::u16string &function) {
    static const std::u16string writers[] = {
        u"DevCeCreateDatabaseWithProps", u"DevCeDeleteDatabaseEx", u"DevCeSetDatabaseInfo", u"DevCeAddDatabaseProps",
        u"DevCeRemoveDatabaseProps",     u"DevCeWriteRecordProps", u"DevCeDeleteRecord",    u"DecCeStreamSaveChanges",
        u"DevCeChangeDatabaseLCID"};
    return std::find(std::begin(writers), std::end(writers), function) != std::end(writers);
}

uint32_t Server::Dispatch(const std::u16string &function, const Input &in, Output &out, bool *known) {
    const auto found = Handlers().find(function);
    *known = found != Handlers().end();
    if (!*known) return 0;
    uint32_t fault = 0;
    if (InjectedFault(Utf8(function).c_str(), &fault)) return fault;
    ImageLock lock;  // another process's server may be changing the same volume
    if (ChangesVolume(function))
        for (auto &mounted : m_volumes) Refresh(*mounted);
    return (this->*found->second)(in, out);
}

void Server::EndLink() {
    m_handles.clear();
    if (m_volumes.empty()) return;
    ImageLock lock;  // the journals are folded
    for (auto &mounted : m_volumes) Forget(*mounted);
    m_volumes.clear();
}

void Server::Forget(MountedVolume &mounted) {
    constexpr size_t kKept = 8;
    // The file is left whole for whoever reads it next; what cannot be written
    // stays in the journal, which the next mount folds.
    Refresh(mounted);
    if (!mounted.unreadable && JournalSize(mounted.path) != 0) Fold(mounted);
    std::erase_if(m_forgotten, [&mounted](const auto &kept) { return kept->path == mounted.path; });
    if (m_forgotten.size() == kKept) m_forgotten.erase(m_forgotten.begin());
    m_forgotten.push_back(std::make_unique<MountedVolume>(std::move(mounted)));
}

std::unique_ptr<MountedVolume> Server::TakeForgotten(const std::string &path) {
    const auto kept = std::find_if(m_forgotten.begin(), m_forgotten.end(),
                                   [&](const auto &candidate) { return candidate->path == path; });
    if (kept == m_forgotten.end()) {
        auto fresh = std::make_unique<MountedVolume>();
        fresh->path = path;
        return fresh;
    }
    std::unique_ptr<MountedVolume> taken = std::move(*kept);
    m_forgotten.erase(kept);
    return taken;
}

uint32_t Server::Load(MountedVolume &mounted) {
    const bool held = !mounted.unreadable && !mounted.stamp.empty();
    mounted.unreadable = true;                          // until both files are read
    const std::string stamp = FileStamp(mounted.path);  // first: an edit while reading shows next time
    std::string text, error;
    if (!ReadVolumeText(mounted.path, &text)) return kInvalidData;
    mounted.stamp = stamp;
    if (!held || text != mounted.text || JournalSize(mounted.path) < mounted.journalBytes) {
        Volume volume;
        if (!ParseVolume(text, &volume, &error)) return kInvalidData;
        mounted.volume = std::move(volume);
        mounted.text = std::move(text);
        mounted.journalBytes = 0;
    }
    return CatchUp(mounted);
}

void Server::Refresh(MountedVolume &mounted) {
    // Most changes find the files as they left them: one look at their sizes and times.
    const uint64_t journal = JournalSize(mounted.path);
    if (mounted.unreadable || FileStamp(mounted.path) != mounted.stamp || journal < mounted.journalBytes) {
        Load(mounted);
    } else if (journal != mounted.journalBytes) {
        CatchUp(mounted);
    }
}

// Applies the journal lines past those the volume holds.
uint32_t Server::CatchUp(MountedVolume &mounted) {
    std::string error;
    mounted.unreadable =
        !ApplyJournal(mounted.path, mounted.journalBytes, &mounted.volume, &mounted.journalBytes, &error);
    return mounted.unreadable ? kInvalidData : kOk;
}

MountedVolume *Server::FindVolume(const Guid &guid) {
    for (auto &mounted : m_volumes) {
        if (mounted->guid == guid) return mounted.get();
    }
    return nullptr;
}

uint32_t Server::NewHandle(HandleObject object) {
    if (m_nextHandle == 0 || m_nextHandle == 0xFFFFFFFFu) m_nextHandle = 0x1000;
    const uint32_t handle = m_nextHandle++;
    m_handles.insert_or_assign(handle, std::move(object));
    return handle;
}

Database *Server::OpenedDatabase(uint32_t handle, OpenDatabase **opened, MountedVolume **volume) {
    OpenDatabase *found = Find<OpenDatabase>(handle);
    MountedVolume *mounted = found != nullptr ? FindVolume(found->volume) : nullptr;
    if (mounted == nullptr) return nullptr;
    if (opened) *opened = found;
    if (volume) *volume = mounted;
    return mounted->volume.FindDatabase(found->database);
}

uint32_t Server::Commit(MountedVolume &mounted, const RecordChange &change) {
    // A journal as long as the file it follows is folded into it: each fold writes
    // the file once for as many bytes of changes, and a mount never reads more
    // journal than volume.
    constexpr uint64_t kJournalFoldFloor = 1u << 20;
    if (mounted.unreadable) return kInvalidData;
    const std::string line = JournalLine(change);
    if (!AppendFileDurably(JournalFilePath(mounted.path), mounted.journalBytes, line)) return kDiskFull;
    mounted.journalBytes += line.size();
    ApplyChange(change, &mounted.volume);
    if (mounted.journalBytes > std::max<uint64_t>(kJournalFoldFloor, mounted.text.size())) Fold(mounted);
    return kOk;
}

uint32_t Server::Persist(MountedVolume &mounted, Volume before) {
    if (!mounted.unreadable && Fold(mounted)) return kOk;
    mounted.volume = std::move(before);
    return kDiskFull;
}

bool Server::Fold(MountedVolume &mounted) {
    std::string text = VolumeText(mounted.volume);
    if (!WriteFileReplacing(mounted.path, text)) return false;
    // Should the journal outlive the file that holds it, applying it again changes
    // nothing: each line puts a whole record or deletes one.
    std::error_code ignored;
    std::filesystem::remove(HostPath(JournalFilePath(mounted.path)), ignored);
    mounted.text = std::move(text);
    mounted.stamp = FileStamp(mounted.path);
    mounted.journalBytes = 0;
    return true;
}

// ---- the phone number --------------------------------------------------------------------

uint32_t Server::GetPhoneNumber(const Input &, Output &out) {
    if (Switch("phoneNumberUnreadable")) return static_cast<uint32_t>(CE_E_FAIL);
    const nlohmann::json &config = DeviceConfig();
    const auto number = config.find("phoneNumber");
    const std::string text =
        number != config.end() && number->is_string() ? number->get<std::string>() : kDefaultPhoneNumber;
    for (char16_t character : Utf16(text)) out.U16(character);
    out.U16(0);
    return kOk;
}

// ---- volumes ---------------------------------------------------------------------------

// flags (4), name (520), options-present word (4), options (112 when present).
uint32_t Server::MountDBVolEx(const Input &in, Output &out) {
    if (!in.Has(4 + kNameField + 4)) return kInvalidParameter;
    const bool withOptions = in.U32(4 + kNameField) != 0;
    if (in.Size() != 4 + kNameField + 4 + (withOptions ? kVolumeOptions : 0)) return kInvalidParameter;
    const uint32_t disposition = in.U32(0) & kDispositionMask;
    const std::u16string name = in.WideField(4, kNameField);
    const std::string path = VolumeFilePath(ImageRoot(), name);
    if (path.empty()) return kInvalidParameter;
    if (SameText(name, kPimVolume) && Switch("pimVolumeMissing")) return kFileNotFound;

    MountedVolume *mounted = nullptr;
    for (auto &candidate : m_volumes) {
        if (candidate->path == path) mounted = candidate.get();
    }
    const bool exists = !FileStamp(path).empty();
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return kInvalidParameter;
    if (disposition == CREATE_NEW && exists) return kAlreadyExists;
    if ((disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) && !exists) return kFileNotFound;

    const bool fresh = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
                       (disposition == OPEN_ALWAYS && !exists);
    std::unique_ptr<MountedVolume> taken = mounted == nullptr ? TakeForgotten(path) : nullptr;
    MountedVolume &loading = mounted != nullptr ? *mounted : *taken;
    if (fresh) {
        Volume before = std::exchange(loading.volume, Volume{});
        loading.volume.name = name;
        loading.unreadable = false;  // whatever the files held is replaced
        if (Persist(loading, std::move(before)) != kOk) return kDiskFull;
    } else {
        // Read again: another process may have changed it since. Parsed only when
        // it is not what this server holds or held when it last let the volume go.
        if (Load(loading) != kOk) return kInvalidData;
        // A journal a crash left behind goes into the file now.
        if (JournalSize(path) != 0) Fold(loading);
    }
    if (mounted == nullptr) {
        const uint32_t serial = ++m_mountSerial;
        const char tag[] = "Tobrann vol";
        std::memcpy(taken->guid.data(), tag, 12);
        std::memcpy(taken->guid.data() + 12, &serial, 4);
        mounted = taken.get();
        m_volumes.push_back(std::move(taken));
    }
    ++mounted->mounts;
    out.Bytes(mounted->guid.data(), mounted->guid.size());
    return kOk;
}

uint32_t Server::UnmountDBVol(const Input &in, Output &) {
    if (in.Size() != 16) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    if (mounted == nullptr) return kInvalidParameter;
    if (--mounted->mounts != 0) return kOk;
    // The last unmount forgets the volume and every handle on it.
    const Guid guid = mounted->guid;
    Forget(*mounted);
    for (auto handle = m_handles.begin(); handle != m_handles.end();) {
        const Guid *on = std::visit([](auto &object) { return &object.volume; }, handle->second);
        handle = *on == guid ? m_handles.erase(handle) : std::next(handle);
    }
    std::erase_if(m_volumes, [&guid](const auto &volume) { return volume->guid == guid; });
    return kOk;
}

// The 16-byte identifier, or nothing for every volume. Changes are written as they
// happen, so a flush only checks its argument.
uint32_t Server::FlushDBVol(const Input &in, Output &) {
    if (in.Size() == 0) return kOk;
    if (in.Size() != 16) return kInvalidParameter;
    return FindVolume(in.GuidAt(0)) != nullptr || IsStartGuid(in.GuidAt(0)) ? kOk : kInvalidParameter;
}

// volume identifier (16, zero or all ones to start), buffer size in characters (4).
uint32_t Server::EnumDBVolumes(const Input &in, Output &out) {
    if (in.Size() != 20) return kInvalidParameter;
    const Guid after = in.GuidAt(0);
    size_t next = 0;
    if (!IsStartGuid(after)) {
        while (next < m_volumes.size() && m_volumes[next]->guid != after) ++next;
        if (next == m_volumes.size()) return kInvalidParameter;
        ++next;
    }
    if (next >= m_volumes.size()) return kNoMoreItems;
    const MountedVolume &volume = *m_volumes[next];
    if (volume.volume.name.size() + 1 > in.U32(16)) return kInsufficientBuffer;
    out.Bytes(volume.guid.data(), volume.guid.size());
    for (char16_t character : volume.volume.name) out.U16(character);
    out.U16(0);
    return kOk;
}

uint32_t Server::ChangeDatabaseLCID(const Input &in, Output &) {
    if (in.Size() != 20) return kInvalidParameter;
    MountedVolume *mounted = FindVolume(in.GuidAt(0));
    if (mounted == nullptr) return kInvalidParameter;
    if (mounted->volume.locale == in.U32(16)) return kOk;
    Volume before = mounted->volume;
    mounted->volume.locale = in.U32(16);
    return Persist(*mounted, std::move(before));
}

// ---- sessions ---------------------------------------------------------------------------

uint32_t Server::CreateSession(const Input &in, Output &out) {
    if (in.Size() != 16) return kInvalidParameter;
    const Guid guid = in.GuidAt(0);
    if (FindVolume(guid) == nullptr) return kInvalidParameter;
    out.U32(NewHandle(SessionObject{guid}));
    return kOk;
}

// Options and transactions are accepted on a valid session; every write is
// committed at once, so there is nothing for them to change.
uint32_t Server::SetSessionOption(const Input &in, Output &) {
    if (in.Size() != 12) return kInvalidParameter;
    return Find<SessionObject>(in.U32(0)) != nullptr ? kOk : kInvalidHandle;
}

uint32_t Server::BeginTransaction(const Input &in, Output &) {
    if (in.Size() != 8) return kInvalidParameter;
    return Find<SessionObject>(in.U32(0)) != nullptr ? kOk : kInvalidHandle;
}

uint32_t Server::EndTransaction(const Input &in, Output &) {
    if (in.Size() != 8) return kInvalidParameter;
    return Find<SessionObject>(in.U32(0)) != nullptr ? kOk : kInvalidHandle;
}

// No notifications are ever sent, so there is nothing to free.
uint32_t Server::FreeNotification(const Input &in, Output &) { return in.Size() == 56 ? kOk : kInvalidParameter; }

}  // namespace tobrann

namespace {
tobrann::Server &TheServer() {
    static tobrann::Server server;
    return server;
}
}  // namespace

void EndTobrannLink() {
    std::lock_guard guard(DeviceLock());
    TheServer().EndLink();
}

HRESULT TobrannInvoke(const std::u16string &function, DWORD cbInput, const BYTE *input, DWORD *cbOutput,
                      BYTE **output) {
    std::lock_guard guard(DeviceLock());
    if (cbOutput) *cbOutput = 0;
    if (output) *output = nullptr;
    tobrann::Server &server = TheServer();
    tobrann::Output out;
    bool known = false;
    uint32_t code = 0;
    try {
        code = server.Dispatch(function, tobrann::Input(input, cbInput), out, &known);
    } catch (const std::bad_alloc &) {
        code = 14;  // ERROR_OUTOFMEMORY
    } catch (const std::exception &) {
        code = tobrann::kInvalidData;
    }
    if (!known) return CE_HRESULT_FROM_WIN32(CE_ERROR_CALL_NOT_IMPLEMENTED);
    if (code != 0) {
        SetDeviceError(code);
        // The phone number is judged by its sign: its failures are HRESULTs.
        if (function == u"DevCeGetPhoneNumber" && static_cast<int32_t>(code) > 0) {
            return CE_HRESULT_FROM_WIN32(code);
        }
        return static_cast<HRESULT>(code);
    }
    if (!out.Buffer().empty() && cbOutput != nullptr && output != nullptr) {
        *output = tobrann::AllocateResponse(out.Buffer());
        if (*output == nullptr) return 14;
        *cbOutput = static_cast<DWORD>(out.Buffer().size());
    }
    return 0;
}

}  // namespace ceemu
