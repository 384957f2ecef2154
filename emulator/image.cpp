// The open phone image: where it is, its device.json, and crash-safe file writes.
#include "device.h"

#include "hostfile.h"
#include "volume.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace ceemu {
namespace {

struct ImageState {
    std::string root;
    nlohmann::json config = nlohmann::json::object();
};

// What fault counters were counted against: a new phone or new switches restart them.
struct LoadedIdentity {
    std::string root;
    nlohmann::json config;
    bool operator==(const LoadedIdentity &) const = default;
};

ImageState &State() {
    static ImageState state;
    return state;
}

std::string EnvironmentText(const char *name) {
#if defined(_WIN32)
    std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t *value = _wgetenv(wideName.c_str());
    if (value == nullptr) return {};
    const std::wstring wide(value);
    return Utf8(std::u16string(wide.begin(), wide.end()));
#else
    const char *value = std::getenv(name);
    return value ? value : "";
#endif
}

// The per-user folder that holds writable phone copies.
fs::path UserPhonesFolder() {
#if defined(_WIN32)
    std::string base = EnvironmentText("LOCALAPPDATA");
    if (base.empty()) base = EnvironmentText("APPDATA");
#else
    std::string base = EnvironmentText("XDG_DATA_HOME");
    if (base.empty()) {
        const std::string home = EnvironmentText("HOME");
        if (!home.empty()) base = home + "/.local/share";
    }
#endif
    if (base.empty()) return fs::temp_directory_path() / "cebridge" / "phones";
    return HostPath(base) / "cebridge" / "phones";
}

// This library's own folder.
fs::path LibraryFolder() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&LibraryFolder), &self) ||
        GetModuleFileNameW(self, path, MAX_PATH) == 0)
        return {};
    return fs::path(path).parent_path();
#else
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void *>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    return fs::path(info.dli_fname).parent_path();
#endif
}

// The demo phone shipped with an installed emulator (relative to this library), or
// else the one of the source tree it was built from.
fs::path ShippedDemoPhone() {
    const fs::path folder = LibraryFolder();
    std::error_code error;
    if (!folder.empty()) {
        const fs::path installed = folder / CEEMU_INSTALLED_DATA / "phones" / "demo";
        if (fs::exists(installed / "device.json", error)) return installed;
    }
    return HostPath(CEEMU_SHIPPED_DEMO_PHONE);
}

// Copies the shipped demo phone once; the copy goes to a sibling first and is
// renamed into place, so a half-finished copy is never taken for the phone.
fs::path UserDemoPhone() {
    const fs::path target = UserPhonesFolder() / "demo";
    std::error_code error;
    if (fs::exists(target / "device.json", error)) return target;
    const fs::path shipped = ShippedDemoPhone();
    fs::create_directories(target.parent_path(), error);
    const fs::path partial = target.parent_path() / ("demo.partial-" + std::to_string(std::random_device{}()));
    fs::copy(shipped, partial, fs::copy_options::recursive, error);
    if (!error) fs::rename(partial, target, error);
    if (error) fs::remove_all(partial, error);
    return target;
}

// device.json, or an empty object when there is none; a file that cannot be read
// or is not a JSON object is a fault.
std::optional<ImageFault> ReadConfig(const fs::path &file, nlohmann::json *config) {
    *config = nlohmann::json::object();
    std::error_code error;
    if (!fs::exists(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return ImageFault{CE_ERROR_ACCESS_DENIED, PathText(file) + " cannot be read"};
    nlohmann::json parsed = nlohmann::json::parse(in, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return ImageFault{kErrorInvalidData, PathText(file) + " is not a JSON object"};
    *config = std::move(parsed);
    return std::nullopt;
}

// Every volume file must load, or the phone would show empty databases.
std::optional<ImageFault> CheckVolumes(const fs::path &folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return std::nullopt;
    for (const auto &entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() != ".json") continue;
        Volume volume;
        std::string reason;
        if (!LoadVolume(PathText(entry.path()), &volume, &reason))
            return ImageFault{kErrorInvalidData, PathText(entry.path()) + ": " + reason};
    }
    if (error) return ImageFault{CE_ERROR_ACCESS_DENIED, PathText(folder) + ": " + error.message()};
    return std::nullopt;
}

std::optional<ImageFault> CheckRoot(const std::string &root) {
    std::error_code error;
    const fs::file_status status = fs::status(HostPath(root), error);
    if (!fs::exists(status)) return ImageFault{CE_ERROR_PATH_NOT_FOUND, "the phone image " + root + " does not exist"};
    if (!fs::is_directory(status))
        return ImageFault{CE_ERROR_PATH_NOT_FOUND, "the phone image " + root + " is not a folder"};
    fs::directory_iterator probe(HostPath(root), error);
    if (error)
        return ImageFault{CE_ERROR_ACCESS_DENIED, "the phone image " + root + " cannot be read: " + error.message()};
    return std::nullopt;
}

std::string TemporarySibling(const std::string &path) {
    static std::mt19937 random{std::random_device{}()};
    std::ostringstream name;
    name << path << ".tmp-" << std::hex << random();
    return name.str();
}

}  // namespace

std::recursive_mutex &DeviceLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::string ImageRoot() {
    std::lock_guard guard(DeviceLock());
    if (State().root.empty()) {
        const std::string named = EnvironmentText("CEBRIDGE_DEVICE");
        State().root = named.empty() ? PathText(UserDemoPhone()) : named;
    }
    return State().root;
}

const nlohmann::json &DeviceConfig() {
    std::lock_guard guard(DeviceLock());
    return State().config;
}

std::optional<ImageFault> LoadImage() {
    std::lock_guard guard(DeviceLock());
    State().root.clear();
    std::optional<ImageFault> fault = CheckRoot(ImageRoot());
    if (!fault) fault = ReadConfig(ImagePath("device.json"), &State().config);
    if (!fault) fault = CheckVolumes(ImagePath("volumes"));
    if (fault) State().config = nlohmann::json::object();
    LoadRegistry();
    ResetSpaceAccount();
    static LoadedIdentity last;
    LoadedIdentity now{State().root, State().config};
    if (!(now == last)) ResetFaultCounters();
    last = std::move(now);
    return fault;
}

fs::path ImagePath(const char *name) { return HostPath(ImageRoot()) / name; }

std::optional<uint64_t> ConfigNumber(const nlohmann::json &object, const char *key) {
    const auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (found->is_number_unsigned()) return found->get<uint64_t>();
    if (found->is_number_integer()) return static_cast<uint64_t>(found->get<int64_t>());
    if (found->is_string()) {
        const std::string text = found->get<std::string>();
        char *end = nullptr;
        const bool negative = !text.empty() && text[0] == '-';
        const uint64_t value = negative ? static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 0))
                                        : std::strtoull(text.c_str(), &end, 0);
        if (!text.empty() && end != nullptr && *end == '\0') return value;
    }
    return std::nullopt;
}

bool ConfigFlag(const nlohmann::json &object, const char *key) {
    const auto found = object.find(key);
    if (found == object.end()) return false;
    if (found->is_boolean()) return found->get<bool>();
    return ConfigNumber(object, key).value_or(0) != 0;
}

#if defined(_WIN32)
ImageLock::ImageLock() {
    const std::wstring path = ImagePath(".ceemu.lock").wstring();
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;  // an image that cannot be locked is served unlocked
    // LockFile does not wait: try again until the other process lets go.
    while (!::LockFile(file, 0, 0, 1, 0)) {
        if (::GetLastError() != ERROR_LOCK_VIOLATION) {
            ::CloseHandle(file);
            return;
        }
        ::Sleep(1);
    }
    m_file = file;
}

ImageLock::~ImageLock() {
    if (m_file == nullptr) return;
    ::UnlockFile(m_file, 0, 0, 1, 0);
    ::CloseHandle(m_file);
}
#else
ImageLock::ImageLock() {
    m_fd = ::open(ImagePath(".ceemu.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) return;  // an image that cannot be locked is served unlocked
    while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

ImageLock::~ImageLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}
#endif

bool WriteFileReplacing(const std::string &path, const std::string &bytes) {
    const fs::path target = HostPath(path);
    const fs::path temporary = HostPath(TemporarySibling(path));
    std::error_code error;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
    try {
        HostFile file(temporary, HostFile::Mode::Truncate);
        file.Write(bytes.data(), bytes.size());
        file.Sync();
    } catch (const DeviceError &) {
        fs::remove(temporary, error);
        return false;
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

bool AppendFileDurably(const std::string &path, uint64_t size, const std::string &bytes) {
    const fs::path target = HostPath(path);
    std::error_code error;
    const bool exists = fs::exists(target, error);
    if (exists && fs::file_size(target, error) != size) fs::resize_file(target, size, error);
    if (error) return false;
    try {
        HostFile file(target, HostFile::Mode::Append);
        file.Write(bytes.data(), bytes.size());
        file.Sync();
    } catch (const DeviceError &) {
        fs::resize_file(target, size, error);
        return false;
    }
    return true;
}

}  // namespace ceemu
