// Storage discovery and device identity: which memories the phone has, how full they
// are and which model it is, answered as the capability document.
//
// The stores are found through the device's storage-manager profiles: each profile's
// "Folder" value names a folder below the device root. Built-in stores (and the SD
// folders "My Storage" and "LGT Storage") count as internal and are measured only when
// their root folder is mounted; removable cards count as external and are measured when
// their folder exists; PCMCIA profiles are not measured. The group store "Zimo Store"
// is always tried last among the internal ones.
//
// The capability record has room for 15 stores with texts of 15 characters. A store
// that does not fit is left out whole, never cut: a cut location would name a folder
// that does not exist, and a cut figure would be a wrong one. So
//   - once the 15 entries are taken, further stores are left out;
//   - a store whose folder name is longer than 15 characters (in the PC's code page)
//     is left out;
//   - a store whose figures need more than 15 digits (a petabyte or more) is left out.
// Each of these is logged. An empty "Folder" value names no folder and counts as none.
// The model name is cut to the record's 127 characters after the last whole character.
#include "core/session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/support.h"
#include "xml/xml.h"

namespace {

constexpr DWORD kKeyNameChars = 1024;      // registry key texts
constexpr DWORD kFolderValueBytes = 2050;  // "Folder": up to 1025 wide characters
constexpr DWORD kOrigNameBytes = 128;      // "OrigName": up to 64 wide characters
constexpr DWORD kMaxProfiles = 4096;       // a device that never ends its enumeration
constexpr DWORD kMountedStoreRoot = FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD kRootFoldersQuery = FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY;  // 0x4081
constexpr DWORD kStoreFolderQuery =
    FAF_ATTRIBUTES | FAF_CREATION_TIME | FAF_LASTACCESS_TIME | FAF_LASTWRITE_TIME | FAF_NAME;  // 0x8F
constexpr size_t kMaxEntryText = kCapabilityTextSize - 1;
const char kGroupStore[] = "Zimo Store";

using NameList = std::vector<std::string>;

bool Contains(const NameList &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool HasText(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

bool EqualsIgnoringCase(const std::string &text, const char *other) {
    const size_t length = std::strlen(other);
    if (text.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        if (lower(text[i]) != lower(other[i])) return false;
    }
    return true;
}

// The eight texts of one entry of the memory table.
struct StoreEntry {
    std::string location;
    std::string memoryType;
    std::string freeBytes;
    std::string usedBytes;
    std::string blockSize;
    std::string usedBlocks;
    std::string totalBlocks;
    std::string freeBlocks;

    bool Fits() const {
        for (const std::string *text :
             {&location, &memoryType, &freeBytes, &usedBytes, &blockSize, &usedBlocks, &totalBlocks, &freeBlocks}) {
            if (text->size() > kMaxEntryText) return false;
        }
        return true;
    }

    void WriteTo(CapabilityInfo &info, int entry) const {
        const auto put = [](char(&field)[kCapabilityTextSize], const std::string &text) {
            std::memset(field, 0, sizeof field);
            std::memcpy(field, text.data(), std::min(text.size(), kMaxEntryText));
        };
        put(info.location[entry], location);
        put(info.memoryType[entry], memoryType);
        put(info.freeBytes[entry], freeBytes);
        put(info.usedBytes[entry], usedBytes);
        put(info.blockSize[entry], blockSize);
        put(info.usedBlocks[entry], usedBlocks);
        put(info.totalBlocks[entry], totalBlocks);
        put(info.freeBlocks[entry], freeBlocks);
    }
};

// A figure as the object store's entry shows it: 32-bit signed decimal.
std::string SignedFigure(uint32_t value) { return std::to_string(static_cast<int32_t>(value)); }

// A device registry key that closes itself.
class DeviceKey {
public:
    DeviceKey() = default;
    ~DeviceKey() {
        if (m_open) platform::Rapi().CeRegCloseKey(m_key);
    }
    DeviceKey(const DeviceKey &) = delete;
    DeviceKey &operator=(const DeviceKey &) = delete;

    bool Open(HKEY parent, const WCHAR *path) {
        HKEY key = nullptr;
        m_open = platform::Rapi().CeRegOpenKeyEx(parent, path, 0, 0, &key) == 0;
        if (m_open) m_key = key;
        return m_open;
    }
    HKEY Handle() const { return m_key; }

    // Reads a string value of at most `capacityBytes` bytes; the text ends at its
    // first zero character or at the bytes the device reported, whichever comes first.
    bool QueryString(const WCHAR *name, DWORD capacityBytes, platform::WideString &text) const {
        std::vector<WCHAR> buffer(capacityBytes / sizeof(WCHAR) + 1, 0);
        DWORD type = 0;
        DWORD size = capacityBytes;
        if (platform::Rapi().CeRegQueryValueEx(m_key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()),
                                               &size) != 0) {
            return false;
        }
        const WCHAR *begin = buffer.data();
        const WCHAR *end = begin + std::min(size, capacityBytes) / sizeof(WCHAR);
        text.assign(begin, std::find(begin, end, WCHAR(0)));
        return true;
    }

private:
    HKEY m_key = nullptr;
    bool m_open = false;
};

// The entry's name, which need not be terminated within its field.
platform::WideString FoundName(const CE_FIND_DATA &entry) {
    return platform::WideString(entry.cFileName, std::find(entry.cFileName, entry.cFileName + CE_MAX_PATH, WCHAR(0)));
}

// One capability request's look at the phone's memories and identity.
class StorageDiscovery {
public:
    StorageDiscovery(DeviceSession &session, CapabilityInfo &info) : m_session(session), m_info(info) {}

    // Entry 0: the object store. False when the device does not answer.
    bool ReadObjectStore();
    // Entries 1..15: the stores named by the storage profiles.
    void ReadStores();
    void ReadModel();

private:
    bool WalkProfiles();
    void ReadProfile(HKEY profiles, const WCHAR *keyName);
    void Classify(const std::string &keyName, const std::string &folder);
    void FindMountedRoots();
    void MeasureInternalStores();
    void MeasureExternalStores();
    bool StoreFolderExists(const std::string &name);
    void MeasureStore(const std::string &name, const char *memoryType);
    bool HasRoomFor(const std::string &name) const;

    std::string Narrow(const WCHAR *text) {
        std::unique_ptr<char, decltype(&std::free)> narrow(m_session.WideToNarrow(text), &std::free);
        return narrow ? std::string(narrow.get()) : std::string();
    }
    std::unique_ptr<WCHAR, decltype(&std::free)> Wide(const std::string &text) {
        return {m_session.NarrowToWide(text.c_str()), &std::free};
    }

    DeviceSession &m_session;
    CapabilityInfo &m_info;
    NameList m_profileFolders;
    NameList m_internalCandidates;
    NameList m_externalCandidates;
    NameList m_mountedRoots;
    bool m_groupStoreSeen = false;
    int m_nextEntry = 1;
};

bool StorageDiscovery::ReadObjectStore() {
    STORE_INFORMATION store{};
    if (!platform::Rapi().CeGetStoreInformation(&store)) {
        LogLine(LOG_TRACE, "CeGetStoreInformation FAIL[%d]", int(platform::Rapi().CeGetLastError()));
        return false;
    }
    const uint32_t size = store.dwStoreSize;
    const uint32_t free = store.dwFreeSize;
    const StoreEntry objectStore{"0",
                                 "Internal",
                                 SignedFigure(free),
                                 SignedFigure(size - free),
                                 "1",
                                 SignedFigure(size - free),
                                 SignedFigure(size),
                                 SignedFigure(free)};
    objectStore.WriteTo(m_info, 0);  // 32-bit figures always fit
    return true;
}

void StorageDiscovery::ReadStores() {
    if (!WalkProfiles()) return;  // no profiles: the object store alone
    FindMountedRoots();
    MeasureInternalStores();
    MeasureExternalStores();
}

// Reads every storage profile into the candidate lists; false when there are none.
bool StorageDiscovery::WalkProfiles() {
    DeviceKey profiles;
    if (!profiles.Open(HKEY_LOCAL_MACHINE, CE_TEXT("System\\StorageManager\\Profiles"))) return false;
    for (DWORD index = 0; index < kMaxProfiles; ++index) {
        WCHAR keyName[kKeyNameChars + 1] = {};
        DWORD keyNameChars = kKeyNameChars;
        const LONG result = platform::Rapi().CeRegEnumKeyEx(profiles.Handle(), index, keyName, &keyNameChars, nullptr,
                                                            nullptr, nullptr, nullptr);
        if (result != 0 && result != static_cast<LONG>(CE_ERROR_MORE_DATA)) break;
        keyName[kKeyNameChars] = 0;
        ReadProfile(profiles.Handle(), keyName);
    }
    if (!m_groupStoreSeen) m_internalCandidates.push_back(kGroupStore);
    if (!m_profileFolders.empty()) m_info.cardsPresent = 1;
    return true;
}

void StorageDiscovery::ReadProfile(HKEY profiles, const WCHAR *keyNameWide) {
    const std::string keyName = Narrow(keyNameWide);
    LogLine(LOG_TRACE, "KEYNAME[%s]", keyName.c_str());
    DeviceKey profile;
    if (!profile.Open(profiles, keyNameWide)) {
        LogLine(LOG_TRACE, "KEY OPEN FAIL");
        return;
    }
    platform::WideString folderWide;
    if (!profile.QueryString(CE_TEXT("Folder"), kFolderValueBytes, folderWide)) return;
    const std::string folder = Narrow(folderWide.c_str());
    LogLine(LOG_TRACE, "FolderName[%s]", folder.c_str());
    if (folder.empty() || Contains(m_profileFolders, folder)) return;

    m_profileFolders.push_back(folder);
    LogLine(LOG_TRACE, "pKeyName[%s], pFolderName[%s]", keyName.c_str(), folder.c_str());
    Classify(keyName, folder);
    if (HasText(folder, kGroupStore)) m_groupStoreSeen = true;
}

// SD and MMC cards are removable unless they hold the phone's built-in storage folder;
// PCMCIA cards are not measured; every other profile is a built-in store.
void StorageDiscovery::Classify(const std::string &keyName, const std::string &folder) {
    if (HasText(keyName, "SDMemory") || HasText(keyName, "SDMMC") || HasText(keyName, "MMC")) {
        if (EqualsIgnoringCase(folder, "My Storage") || EqualsIgnoringCase(folder, "LGT Storage")) {
            LogLine(LOG_TRACE, "ADD INT");
            m_internalCandidates.push_back(folder);
        } else {
            LogLine(LOG_TRACE, "ADD EXT");
            m_externalCandidates.push_back(folder);
        }
    } else if (!HasText(keyName, "PCMCIA")) {
        LogLine(LOG_TRACE, "ADD INT");
        m_internalCandidates.push_back(folder);
    }
}

// The folders below the root that are a mounted store's root carry attribute 0x100.
void StorageDiscovery::FindMountedRoots() {
    DWORD count = 0;
    CE_FIND_DATA *entries = nullptr;
    if (platform::Rapi().CeFindAllFiles(CE_TEXT("\\*.*"), kRootFoldersQuery, &count, &entries) && entries) {
        for (DWORD i = 0; i < count; ++i) {
            if ((entries[i].dwFileAttributes & kMountedStoreRoot) == 0) continue;
            const std::string name = Narrow(FoundName(entries[i]).c_str());
            m_mountedRoots.push_back(name);
            LogLine(LOG_TRACE, "Found: \\%s\n", name.c_str());
        }
    }
    if (entries) platform::Rapi().CeRapiFreeBuffer(entries);
}

void StorageDiscovery::MeasureInternalStores() {
    for (const std::string &name : m_internalCandidates) {
        LogLine(LOG_TRACE, "TARGET FOLDER[%s]", name.c_str());
        if (!Contains(m_mountedRoots, name) || !HasRoomFor(name)) continue;
        MeasureStore(name, "Internal");
    }
}

void StorageDiscovery::MeasureExternalStores() {
    for (const std::string &name : m_externalCandidates) {
        LogLine(LOG_TRACE, "TARGET FOLDER[%s]", name.c_str());
        if (!StoreFolderExists(name) || !HasRoomFor(name)) continue;
        MeasureStore(name, "External");
    }
}

bool StorageDiscovery::StoreFolderExists(const std::string &name) {
    const auto path = Wide("\\" + name);
    DWORD count = 0;
    CE_FIND_DATA *entries = nullptr;
    const bool found = path && platform::Rapi().CeFindAllFiles(path.get(), kStoreFolderQuery, &count, &entries);
    if (entries) platform::Rapi().CeRapiFreeBuffer(entries);
    if (!found || count == 0) return false;
    LogLine(LOG_TRACE, "dwFileCount[%d]", int(count));
    return true;
}

bool StorageDiscovery::HasRoomFor(const std::string &name) const {
    if (m_nextEntry >= kCapabilityEntries) {
        LogLine(LOG_TRACE, "Store [%s] left out: all %d entries taken", name.c_str(), kCapabilityEntries - 1);
        return false;
    }
    if (name.size() > kMaxEntryText) {
        LogLine(LOG_TRACE, "Store [%s] left out: name longer than %d characters", name.c_str(),
                static_cast<int>(kMaxEntryText));
        return false;
    }
    return true;
}

// Fills the next entry from a free-space query on the store's folder; a store whose
// query fails takes no entry.
void StorageDiscovery::MeasureStore(const std::string &name, const char *memoryType) {
    const auto folder = Wide(name);
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (!folder || !platform::Rapi().CeGetDiskFreeSpaceEx(folder.get(), &available, &total, &totalFree)) {
        LogLine(LOG_TRACE, "CeGetDiskFreeSpaceEx FAIL[%d]", int(platform::Rapi().CeGetLastError()));
        return;
    }
    LogLine(LOG_TRACE, "[%s]Access", name.c_str());
    const uint64_t freeBytes = available.QuadPart;
    const uint64_t totalBytes = total.QuadPart;
    const uint64_t usedBytes = totalBytes - totalFree.QuadPart;
    LogLine(LOG_TRACE, "Ava:%llu Free:%llu ulUse:%llu", static_cast<unsigned long long>(totalBytes),
            static_cast<unsigned long long>(freeBytes), static_cast<unsigned long long>(usedBytes));
    const StoreEntry store{name,
                           memoryType,
                           std::to_string(freeBytes),
                           std::to_string(usedBytes),
                           "1",
                           std::to_string(usedBytes),
                           std::to_string(totalBytes),
                           std::to_string(freeBytes)};
    if (!store.Fits()) {
        LogLine(LOG_TRACE, "Store [%s] left out: figures longer than %d digits", name.c_str(),
                static_cast<int>(kMaxEntryText));
        return;
    }
    store.WriteTo(m_info, m_nextEntry++);
}

void StorageDiscovery::ReadModel() {
    DeviceKey ident;
    platform::WideString origName;
    std::string model = "UNKNOWN";
    if (ident.Open(HKEY_LOCAL_MACHINE, CE_TEXT("IDENT")) &&
        ident.QueryString(CE_TEXT("OrigName"), kOrigNameBytes, origName)) {
        model = platform::WideToAnsiBounded(origName.c_str(), sizeof m_info.model - 1);
    }
    std::memset(m_info.model, 0, sizeof m_info.model);
    std::memcpy(m_info.model, model.data(), std::min(model.size(), sizeof m_info.model - 1));
}

}  // namespace

bool DeviceSession::GetCapability(const char *type, AgentPacket *response) {
    if (m_nConnected == 0) {
        LogLine(LOG_TRACE, "Active Sync Not Connect");
        SendStatus(response, ST_NOT_ACCEPTABLE);
        return false;
    }
    if (type == nullptr || std::strcmp(type, "x-obex/capability") != 0) {
        LogLine(LOG_TRACE, "BAD Param %s", type ? type : "");
        SendStatus(response, ST_BAD_REQUEST);
        return false;
    }
    auto info = std::make_unique<CapabilityInfo>();  // zeroed
    StorageDiscovery discovery(*this, *info);
    if (!discovery.ReadObjectStore()) {
        SendStatus(response, ST_DISCONNECTED);
        return false;
    }
    discovery.ReadStores();
    discovery.ReadModel();
    MakeCapability(info.release(), response);
    return true;
}
