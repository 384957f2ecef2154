// The phone's file system: searches, folders, file handles and deletes over fs/.
#include "files.h"

#include "hostfile.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

namespace ceemu {
namespace {

// What the plug-in passes as its write-through request in a create (its uploads send 0x40000080).
constexpr DWORD kWriteThroughRequest = 0x40000000;
constexpr DWORD kFileShareRead = 0x1;
constexpr DWORD kFileShareWrite = 0x2;
constexpr DWORD kFileShareDelete = 0x4;
constexpr DWORD kAllFindFields = 0xFF;

// One entry of a search, kept small: a folder listing holds one per entry at once.
struct FoundItem {
    std::u16string name;  // the phone's name for it (empty for the root)
    DWORD objectId = 0;
    bool storeRoot = false;
    HostItem facts;
};

struct OpenFile : HandleObject {
    OpenFile(const fs::path &path, HostFile::Mode mode, HostFile::Lock lock) : host(path), file(path, mode, lock) {}
    fs::path host;
    HostFile file;
    DevicePath device;
    std::string storeKey;  // the store the file is on (see StoreKeyFor)
    DWORD access = 0;
    DWORD share = 0;
    bool writeThrough = false;
};

struct FindSearch : HandleObject {
    bool ClosedByCloseHandle() const override { return false; }
};

bool SameHostItem(const fs::path &a, const fs::path &b) {
    std::error_code error;
    const bool same = fs::equivalent(a, b, error);
    return error ? a == b : same;
}

std::vector<OpenFile *> OpenFilesOn(const fs::path &host) {
    std::vector<OpenFile *> open;
    for (HandleObject *object : AllHandles()) {
        auto *file = dynamic_cast<OpenFile *>(object);
        if (file != nullptr && SameHostItem(file->host, host)) open.push_back(file);
    }
    return open;
}

bool SharingConflicts(const OpenFile &held, DWORD access, DWORD share) {
    const bool read = (access & GENERIC_READ) != 0, write = (access & GENERIC_WRITE) != 0;
    const bool heldRead = (held.access & GENERIC_READ) != 0, heldWrite = (held.access & GENERIC_WRITE) != 0;
    return (read && !(held.share & kFileShareRead)) || (write && !(held.share & kFileShareWrite)) ||
           (heldRead && !(share & kFileShareRead)) || (heldWrite && !(share & kFileShareWrite));
}

// What a handle keeps other processes on the same image from: a handle that denies
// writers locks them out, and one that writes too locks out readers.
HostFile::Lock CrossProcessLock(DWORD access, DWORD share) {
    if (share & kFileShareWrite) return HostFile::Lock::None;
    return (access & GENERIC_WRITE) ? HostFile::Lock::Exclusive : HostFile::Lock::Shared;
}

void CheckSharing(const fs::path &host, DWORD access, DWORD share) {
    for (const OpenFile *held : OpenFilesOn(host)) {
        if (SharingConflicts(*held, access, share)) Fail(kErrorSharingViolation);
    }
}

std::u16string JoinDevicePath(const std::vector<std::u16string> &parts) {
    std::u16string text;
    for (const auto &part : parts) text += u"\\" + part;
    return text.empty() ? u"\\" : text;
}

// A stable object id per device path, as the phone's object store gives one.
DWORD ObjectId(const std::u16string &devicePath) {
    uint32_t hash = 2166136261u;
    for (char16_t c : devicePath) {
        const char16_t folded = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
        hash = (hash ^ folded) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

FoundItem DescribeItem(const fs::path &host, const std::vector<std::u16string> &folderParts,
                       const std::u16string &name) {
    FoundItem item;
    item.name = name;
    std::vector<std::u16string> parts = folderParts;
    if (!name.empty()) parts.push_back(name);
    item.objectId = ObjectId(JoinDevicePath(parts));
    item.facts = StatItem(host);
    item.storeRoot = item.facts.folder && folderParts.empty() && !name.empty() && IsMountedStoreRoot(name);
    return item;
}

bool TrailingSeparatorNamesFolder() {
    return DeviceConfig().value("probeTrailingBackslash", std::string("folder")) != "none";
}

// A path that ends in '\' (or is the root itself) names that folder.
std::vector<FoundItem> FindFolderItself(const DevicePath &path) {
    if (!TrailingSeparatorNamesFolder()) return {};
    const std::optional<fs::path> host = ResolveExisting(path);
    if (!host) Fail(CE_ERROR_PATH_NOT_FOUND);
    std::vector<std::u16string> folderParts = path.parts;
    std::u16string name;
    if (!folderParts.empty()) {
        folderParts.pop_back();
        name = Utf16(PathText(host->filename()));
    }
    FoundItem item = DescribeItem(*host, folderParts, name);
    if (!item.facts.folder) Fail(CE_ERROR_PATH_NOT_FOUND);
    return {item};
}

bool NameFits(const std::u16string &name) { return name.size() < CE_MAX_PATH; }
bool NameFits(const FoundItem &item) { return NameFits(item.name); }

// The first `wanted` items of the folder that match, in the phone's order. Only those
// are looked at on the host (a stat each): a search for the first match reads the
// folder's names, not every item's facts.
std::vector<FoundItem> FindInFolder(const DevicePath &path, size_t wanted) {
    const fs::path folder = ResolveParent(path);
    std::vector<std::u16string> folderParts(path.parts.begin(), path.parts.end() - 1);
    const std::u16string &pattern = path.parts.back();
    struct Entry {
        std::u16string name;
        fs::path hostName;
    };
    std::vector<Entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::u16string name = Utf16(PathText(it->path().filename()));
        if (WildcardMatch(pattern, name) && NameFits(name)) entries.push_back({std::move(name), it->path().filename()});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return NameBefore(a.name, b.name); });
    std::vector<FoundItem> found;
    for (size_t i = 0; i < entries.size() && found.size() < wanted; ++i) {
        try {
            found.push_back(DescribeItem(folder / entries[i].hostName, folderParts, entries[i].name));
        } catch (const DeviceError &) {
            // The item vanished while the folder was read; the phone does not list it.
        }
    }
    return found;
}

std::vector<FoundItem> Search(const std::u16string &pattern, size_t wanted = SIZE_MAX) {
    const DevicePath path = ParseDevicePath(pattern);
    if (path.parts.empty() || path.trailingSeparator) return FindFolderItself(path);
    return FindInFolder(path, wanted);
}

bool HasWildcard(const std::u16string &text) { return text.find_first_of(u"*?") != std::u16string::npos; }

DWORD Attributes(const FoundItem &item) {
    if (item.facts.folder) return FILE_ATTRIBUTE_DIRECTORY | (item.storeRoot ? FILE_ATTRIBUTE_TEMPORARY : 0);
    return FILE_ATTRIBUTE_ARCHIVE | (item.facts.readOnly ? FILE_ATTRIBUTE_READONLY : 0);
}

void FillFindData(CE_FIND_DATA &out, const FoundItem &item, DWORD fields) {
    std::memset(&out, 0, sizeof out);
    if (fields & FAF_ATTRIBUTES) out.dwFileAttributes = Attributes(item);
    if (fields & FAF_CREATION_TIME) out.ftCreationTime = item.facts.created;
    if (fields & FAF_LASTACCESS_TIME) out.ftLastAccessTime = item.facts.accessed;
    if (fields & FAF_LASTWRITE_TIME) out.ftLastWriteTime = item.facts.written;
    if (fields & FAF_SIZE_HIGH) out.nFileSizeHigh = static_cast<DWORD>(item.facts.size >> 32);
    if (fields & FAF_SIZE_LOW) out.nFileSizeLow = static_cast<DWORD>(item.facts.size);
    if (fields & FAF_OID) out.dwOID = item.objectId;
    if (fields & FAF_NAME) {
        for (size_t i = 0; i < item.name.size(); ++i) out.cFileName[i] = static_cast<WCHAR>(item.name[i]);
    }
}

DevicePath ParseFileName(const WCHAR *name) {
    if (name == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    DevicePath path = ParseDevicePath(WideText(name));
    if (!path.parts.empty() && HasWildcard(path.parts.back())) Fail(kErrorInvalidName);
    return path;
}

// Opens an existing item for CeCreateFile; checks folder, read-only and sharing.
HostFile::Mode ExistingFileMode(const fs::path &host, const HostItem &facts, DWORD access, DWORD share,
                                DWORD creation) {
    if (facts.folder) Fail(CE_ERROR_ACCESS_DENIED);
    const bool truncates = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
    if ((access & GENERIC_WRITE || truncates) && facts.readOnly) Fail(CE_ERROR_ACCESS_DENIED);
    CheckSharing(host, access, share);
    if (truncates) return HostFile::Mode::Truncate;
    return (access & GENERIC_WRITE) ? HostFile::Mode::ReadWrite : HostFile::Mode::Read;
}

void CheckCreation(DWORD access, DWORD creation) {
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING) Fail(CE_ERROR_INVALID_PARAMETER);
    if (creation == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) Fail(CE_ERROR_INVALID_PARAMETER);
}

OpenFile &FileFor(HANDLE handle) {
    OpenFile *file = FindHandle<OpenFile>(handle);
    if (file == nullptr) Fail(CE_ERROR_INVALID_HANDLE);
    return *file;
}

// The bytes a write adds to the file; fails 112 when the store has no room for them.
uint64_t GrowthWithRoom(OpenFile &open, uint64_t bytes) {
    const uint64_t end = open.file.Position() + bytes;
    const uint64_t size = open.file.Size();
    const uint64_t growth = end > size ? end - size : 0;
    if (growth > SpaceOfStore(open.storeKey).freeToCaller) Fail(CE_ERROR_DISK_FULL);
    return growth;
}

}  // namespace

BOOL FindAllItems(const WCHAR *pattern, DWORD flags, DWORD *count, CE_FIND_DATA **array) {
    if (pattern == nullptr || count == nullptr || array == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    *count = 0;
    *array = nullptr;
    std::vector<FoundItem> items = Search(WideText(pattern));
    std::erase_if(items, [flags](const FoundItem &item) {
        return !NameFits(item) || ((flags & FAF_FOLDERS_ONLY) && !item.facts.folder);
    });
    auto *records = static_cast<CE_FIND_DATA *>(AllocateBuffer(items.size() * sizeof(CE_FIND_DATA)));
    for (size_t i = 0; i < items.size(); ++i) FillFindData(records[i], items[i], flags);
    *count = static_cast<DWORD>(items.size());
    *array = records;
    return TRUE;
}

HANDLE FindFirstItem(const WCHAR *path, CE_FIND_DATA *data) {
    if (path == nullptr || data == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    const std::u16string pattern = WideText(path);
    std::vector<FoundItem> items = Search(pattern, 1);
    std::erase_if(items, [](const FoundItem &item) { return !NameFits(item); });
    if (items.empty()) Fail(HasWildcard(pattern) ? CE_ERROR_NO_MORE_FILES : CE_ERROR_FILE_NOT_FOUND);
    FillFindData(*data, items.front(), kAllFindFields);
    const HANDLE search = AddHandle(std::make_unique<FindSearch>());
    SetDeviceError(CE_ERROR_SUCCESS);
    return search;
}

BOOL EndSearch(HANDLE find) {
    if (FindHandle<FindSearch>(find) == nullptr) Fail(CE_ERROR_INVALID_HANDLE);
    RemoveHandle(find);
    return TRUE;
}

BOOL MakeFolder(const WCHAR *path) {
    const DevicePath device = ParseFileName(path);
    if (device.parts.empty() || ResolveExisting(device)) Fail(CE_ERROR_ALREADY_EXISTS);
    const fs::path host = ResolveParent(device) / HostPath(Utf8(device.parts.back()));
    std::error_code error;
    if (!fs::create_directory(host, error)) Fail(error ? DeviceErrorFrom(error) : CE_ERROR_ALREADY_EXISTS);
    return TRUE;
}

HANDLE OpenFileHandle(const WCHAR *name, DWORD access, DWORD share, DWORD creation, DWORD flagsAndAttributes) {
    const DevicePath device = ParseFileName(name);
    CheckCreation(access, creation);
    if (device.parts.empty() || device.trailingSeparator) Fail(CE_ERROR_ACCESS_DENIED);
    const std::optional<fs::path> existing = ResolveExisting(device);
    if (existing && creation == CREATE_NEW) Fail(kErrorFileExists);
    if (!existing && (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING)) Fail(CE_ERROR_FILE_NOT_FOUND);

    std::unique_ptr<OpenFile> open;
    if (existing) {
        const HostItem facts = StatItem(*existing);
        open = std::make_unique<OpenFile>(*existing, ExistingFileMode(*existing, facts, access, share, creation),
                                          CrossProcessLock(access, share));
        AccountSpace(device, -static_cast<int64_t>(facts.size - open->file.Size()));
    } else {
        const fs::path host = ResolveParent(device) / HostPath(Utf8(device.parts.back()));
        open = std::make_unique<OpenFile>(host, HostFile::Mode::CreateNew, CrossProcessLock(access, share));
        if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) SetReadOnly(host);
    }
    open->device = device;
    open->storeKey = StoreKeyFor(device);
    open->access = access;
    open->share = share;
    open->writeThrough = (flagsAndAttributes & (FILE_FLAG_WRITE_THROUGH | kWriteThroughRequest)) != 0;
    const HANDLE handle = AddHandle(std::move(open));
    // As on the phone: success over an existing file says so in the last error.
    const bool replacedOrReopened = existing && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS);
    SetDeviceError(replacedOrReopened ? CE_ERROR_ALREADY_EXISTS : CE_ERROR_SUCCESS);
    return handle;
}

BOOL ReadFromFile(HANDLE handle, void *buffer, DWORD toRead, DWORD *read) {
    OpenFile &open = FileFor(handle);
    if (read == nullptr || (buffer == nullptr && toRead > 0)) Fail(CE_ERROR_INVALID_PARAMETER);
    *read = 0;
    if (!(open.access & GENERIC_READ)) Fail(CE_ERROR_ACCESS_DENIED);
    *read = static_cast<DWORD>(open.file.Read(buffer, toRead));
    return TRUE;
}

BOOL WriteToFile(HANDLE handle, const void *buffer, DWORD toWrite, DWORD *written) {
    OpenFile &open = FileFor(handle);
    if (written == nullptr || (buffer == nullptr && toWrite > 0)) Fail(CE_ERROR_INVALID_PARAMETER);
    *written = 0;
    if (!(open.access & GENERIC_WRITE)) Fail(CE_ERROR_ACCESS_DENIED);
    const uint64_t growth = GrowthWithRoom(open, toWrite);
    open.file.Write(buffer, toWrite);
    AccountStoreSpace(open.storeKey, static_cast<int64_t>(growth));
    if (open.writeThrough) open.file.Sync();
    *written = toWrite;
    return TRUE;
}

DWORD FileSize(HANDLE handle, DWORD *high) {
    const uint64_t size = FileFor(handle).file.Size();
    // "fileSizeHighWord" plays a phone whose size report carries a stray high word.
    const uint64_t strayHigh = ConfigNumber(DeviceConfig(), "fileSizeHighWord").value_or(0);
    if (high != nullptr) *high = static_cast<DWORD>((size >> 32) + strayHigh);
    return static_cast<DWORD>(size);
}

BOOL CloseObject(HANDLE handle) {
    HandleObject *object = LookUpHandle(handle);
    if (object == nullptr || !object->ClosedByCloseHandle()) Fail(CE_ERROR_INVALID_HANDLE);
    RemoveHandle(handle);
    return TRUE;
}

BOOL RemoveFile(const WCHAR *path) {
    const DevicePath device = ParseFileName(path);
    if (device.parts.empty() || device.trailingSeparator) Fail(CE_ERROR_ACCESS_DENIED);
    const std::optional<fs::path> host = ResolveExisting(device);
    if (!host) Fail(CE_ERROR_FILE_NOT_FOUND);
    const HostItem facts = StatItem(*host);
    if (facts.folder || facts.readOnly) Fail(CE_ERROR_ACCESS_DENIED);
    for (const OpenFile *held : OpenFilesOn(*host)) {
        if (!(held->share & kFileShareDelete)) Fail(kErrorSharingViolation);
    }
    if (OpenFilesOn(*host).empty() && LockedElsewhere(*host)) Fail(kErrorSharingViolation);
    std::error_code error;
    if (!fs::remove(*host, error)) Fail(error ? DeviceErrorFrom(error) : CE_ERROR_FILE_NOT_FOUND);
    AccountSpace(device, -static_cast<int64_t>(facts.size));
    return TRUE;
}

}  // namespace ceemu
