// What the host knows of a phone's stores, folders and items, and the plug-in's limits
// on names and paths: plain data shared by every layer above.
#ifndef CEBRIDGE_HOST_PHONE_TYPES_H
#define CEBRIDGE_HOST_PHONE_TYPES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct Memory {
    std::string type;      // Internal / External
    std::string location;  // "0" for the object store, else the store's folder
    uint64_t freeBytes = 0;
    uint64_t usedBytes = 0;
    uint64_t TotalBytes() const { return freeBytes + usedBytes; }
};

struct Capability {
    std::string model;
    std::string manufacturer;
    std::string phoneNumber;
    std::vector<Memory> memories;
};

struct FolderEntry {
    bool folder = false;
    std::string name;
    int64_t size = 0;                         // as the phone reports it (the low 32 bits, signed)
    std::string modified, created, accessed;  // "YYYYMMDDTHHMMSSZ", PC local time
    // The size the listing can tell: the true size modulo 4 GiB.
    uint64_t Size() const { return uint32_t(size); }
};

// What the plug-in's fields and buffers carry, in bytes of the phone's code page: the
// name of a file it fetches, the name of a file it stores or deletes, a whole device
// path, and the path of a folder it lists (the listing adds "\*.*").
constexpr size_t kMaxDownloadName = 31;
constexpr size_t kMaxStoredName = 127;
constexpr size_t kMaxDevicePath = 259;
constexpr size_t kMaxListedFolderPath = kMaxDevicePath - 4;

struct ContentItem {
    std::string id, title, group, type, version, startTime;
    std::vector<std::pair<std::string, std::string>> extras;  // Ext pairs (XNam, XVal)
};

// A device path split into folder names: "/My Documents/a.txt" -> {"My Documents", "a.txt"}.
std::vector<std::string> SplitDevicePath(const std::string &path);
std::string JoinDevicePath(const std::vector<std::string> &parts);  // "\A\B", "\" for none

// Names on the phone match in any (ASCII) letter case.
bool SameDeviceName(const std::string &a, const std::string &b);
// The entry named `name` (letter case ignored, as on the phone), or null. The
// listing gives each run of spaces as one space, so a name typed with a run finds
// its entry too.
const FolderEntry *FindEntry(const std::vector<FolderEntry> &entries, const std::string &name);
// A name as the folder listing gives it: each run of spaces as one space. Names
// whose listed forms differ are different entries; names that list alike may be too.
std::string ListedForm(const std::string &name);

// The memory that holds a device path: the storage card or store whose folder is
// its first part, else the object store (null when the capability lists none).
const Memory *StoreFor(const Capability &capability, const std::vector<std::string> &path);
// The store as an outcome names it (device text, as outcomes carry).
std::string StoreName(const Memory &store);

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_TYPES_H
