// Store figures from device.json, and program launches recorded in processes.log.
#include "stores.h"

#include "hostfile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace ceemu {
namespace {

// A phone without figures in device.json reports a 32 MB object store, half free.
constexpr uint64_t kDefaultStoreSize = 32u * 1024 * 1024;
constexpr uint64_t kDefaultStoreFree = 16u * 1024 * 1024;

const nlohmann::json &ConfigObject(const nlohmann::json &parent, const char *key) {
    static const nlohmann::json empty = nlohmann::json::object();
    const auto found = parent.find(key);
    return found != parent.end() && found->is_object() ? *found : empty;
}

// The "stores" entry whose folder name matches, and its key.
std::pair<const nlohmann::json *, std::string> StoreEntry(const std::u16string &folder) {
    const nlohmann::json &stores = ConfigObject(DeviceConfig(), "stores");
    for (auto it = stores.begin(); it != stores.end(); ++it) {
        if (it->is_object() && NamesEqual(Utf16(it.key()), folder)) return {&*it, it.key()};
    }
    return {nullptr, {}};
}

const nlohmann::json *StoreNamed(const std::u16string &folder) { return StoreEntry(folder).first; }

// Bytes that files grew by (or gave back) through the phone since the link started,
// per store key ("" for the object store). Taken off the free figures of device.json.
std::map<std::string, int64_t> &Consumed() {
    static std::map<std::string, int64_t> consumed;
    return consumed;
}

uint64_t LessConsumed(uint64_t figure, int64_t consumed) {
    if (consumed >= 0) return figure > static_cast<uint64_t>(consumed) ? figure - static_cast<uint64_t>(consumed) : 0;
    return figure + static_cast<uint64_t>(-consumed);
}

SpaceFigures ObjectStoreFigures() {
    const nlohmann::json &store = ConfigObject(DeviceConfig(), "objectStore");
    SpaceFigures figures;
    figures.total = ConfigNumber(store, "size").value_or(kDefaultStoreSize);
    figures.freeToCaller = figures.totalFree = ConfigNumber(store, "free").value_or(kDefaultStoreFree);
    return figures;
}

SpaceFigures StoreFigures(const nlohmann::json &store) {
    SpaceFigures figures;
    figures.total = ConfigNumber(store, "total").value_or(0);
    const auto freeToCaller = ConfigNumber(store, "freeToCaller");
    const auto totalFree = ConfigNumber(store, "totalFree");
    figures.freeToCaller = freeToCaller.value_or(totalFree.value_or(0));
    figures.totalFree = totalFree.value_or(figures.freeToCaller);
    return figures;
}

DWORD Clamp32(uint64_t value) { return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(value); }

void Put(ULARGE_INTEGER *out, uint64_t value) {
    if (out != nullptr) out->QuadPart = value;
}

class ProcessHandle : public HandleObject {};

std::string ReadWholeFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One line per launch: the image, a tab, the command line.
void RecordLaunch(const std::u16string &image, const std::u16string &cmdline) {
    const std::filesystem::path log = ImagePath("processes.log");
    ImageLock lock;  // another process may append at the same moment
    std::string text = ReadWholeFile(log);
    text += Utf8(image) + "\t" + Utf8(cmdline) + "\n";
    if (!WriteFileReplacing(PathText(log), text)) Fail(CE_ERROR_DISK_FULL);
}

DWORD NextProcessId() {
    static DWORD next = 0x2000;
    return next += 4;
}

}  // namespace

std::string StoreKeyFor(const DevicePath &path) {
    return path.parts.empty() ? std::string() : StoreEntry(path.parts.front()).second;
}

SpaceFigures SpaceOfStore(const std::string &key) {
    const nlohmann::json &stores = ConfigObject(DeviceConfig(), "stores");
    const auto store = key.empty() ? stores.end() : stores.find(key);
    SpaceFigures figures = store != stores.end() ? StoreFigures(*store) : ObjectStoreFigures();
    const int64_t consumed = Consumed()[key];
    figures.freeToCaller = LessConsumed(figures.freeToCaller, consumed);
    figures.totalFree = std::min(LessConsumed(figures.totalFree, consumed), figures.total);
    return figures;
}

SpaceFigures SpaceFor(const DevicePath &path) { return SpaceOfStore(StoreKeyFor(path)); }

void AccountStoreSpace(const std::string &key, int64_t bytes) { Consumed()[key] += bytes; }

void AccountSpace(const DevicePath &path, int64_t bytes) { AccountStoreSpace(StoreKeyFor(path), bytes); }

void ResetSpaceAccount() { Consumed().clear(); }

bool IsMountedStoreRoot(const std::u16string &rootFolderName) {
    const nlohmann::json *store = StoreNamed(rootFolderName);
    return store != nullptr && (!store->contains("mounted") || ConfigFlag(*store, "mounted"));
}

BOOL StoreInformation(STORE_INFORMATION *info) {
    if (info == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    const SpaceFigures figures = SpaceFor(DevicePath{});
    info->dwStoreSize = Clamp32(figures.total);
    info->dwFreeSize = Clamp32(figures.totalFree);
    return TRUE;
}

BOOL DiskFreeSpace(const WCHAR *dir, ULARGE_INTEGER *freeToCaller, ULARGE_INTEGER *total, ULARGE_INTEGER *totalFree) {
    if (dir == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    const DevicePath path = ParseDevicePath(WideText(dir));
    const std::optional<std::filesystem::path> host = ResolveExisting(path);
    if (!host || !StatItem(*host).folder) Fail(CE_ERROR_PATH_NOT_FOUND);
    const SpaceFigures figures = SpaceFor(path);
    Put(freeToCaller, figures.freeToCaller);
    Put(total, figures.total);
    Put(totalFree, figures.totalFree);
    return TRUE;
}

BOOL LaunchProcess(const WCHAR *image, const WCHAR *cmdline, PROCESS_INFORMATION *info) {
    if (image == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    const std::u16string imageText = WideText(image);
    const std::optional<std::filesystem::path> host = ResolveExisting(ParseDevicePath(imageText));
    if (!host) Fail(CE_ERROR_FILE_NOT_FOUND);
    if (StatItem(*host).folder) Fail(CE_ERROR_ACCESS_DENIED);
    RecordLaunch(imageText, WideText(cmdline));
    if (info != nullptr) {
        info->hProcess = AddHandle(std::make_unique<ProcessHandle>());
        info->hThread = AddHandle(std::make_unique<ProcessHandle>());
        info->dwProcessId = NextProcessId();
        info->dwThreadId = info->dwProcessId + 1;
    }
    return TRUE;
}

}  // namespace ceemu
