#include "pc_setup.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "appointment_time.h"
#include "encoding.h"
#include "local_files.h"
#include "reg_text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

const char *const kAgentKey = "SOFTWARE\\MERIDO 3.0\\MERIDOAPI";
const char *const kDtdFiles[] = {"obex-folder-listing.dtd", "obex-capability.dtd", "obex-contents-listing.dtd"};

fs::path ExecutableFolder() {
#if defined(_WIN32)
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
#else
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
#endif
}

fs::path UserDataFolder() {
#if defined(_WIN32)
    std::string base = Environment("LOCALAPPDATA");
    return LocalPath(base.empty() ? "." : base) / "cebridge";
#else
    std::string base = Environment("XDG_DATA_HOME");
    if (base.empty()) base = Environment("HOME") + "/.local/share";
    return fs::path(base) / "cebridge";
#endif
}

// The shipped DTD files: where an installed host keeps its data (share/cebridge/dtd,
// or dtd beside cebridge.exe), or in the source tree the host was built from.
fs::path ShippedDtdFolder() {
    fs::path installed = ExecutableFolder() / CEBRIDGE_INSTALLED_DATA / "dtd";
    std::error_code error;
    if (fs::exists(installed / kDtdFiles[0], error)) return installed;
#ifdef CEBRIDGE_SOURCE_DATA_DIR
    return fs::path(CEBRIDGE_SOURCE_DATA_DIR) / "dtd";
#else
    return installed;
#endif
}

// The DTD files into `target`; a failure names what could not be written.
Outcome InstallDtdsInto(const fs::path &source, const fs::path &target) {
    std::error_code failure;
    fs::create_directories(target, failure);
    if (failure) return PcFailure("cannot make " + target.string() + ": " + failure.message());
    for (const char *name : kDtdFiles) {
        if (!fs::exists(source / name, failure))
            return PcFailure("the DTD file " + (source / name).string() + " is missing (a broken installation)");
        fs::copy_file(source / name, target / name, fs::copy_options::overwrite_existing, failure);
        if (failure) return PcFailure("cannot write " + (target / name).string() + ": " + failure.message());
    }
    return Outcome::Ok();
}

#if !defined(_WIN32)
// This user's own folder in memory-backed storage: $XDG_RUNTIME_DIR/cebridge, else
// /dev/shm/cebridge-UID, made 0700. Used only when it is a folder this user owns
// that nobody else can reach (/dev/shm is shared); "" when there is none.
fs::path PrivateMemoryFolder() {
    std::string runtime = Environment("XDG_RUNTIME_DIR");
    std::error_code error;
    fs::path folder;
    if (!runtime.empty() && fs::is_directory(runtime, error))
        folder = fs::path(runtime) / "cebridge";
    else if (fs::is_directory("/dev/shm", error))
        folder = "/dev/shm/cebridge-" + std::to_string(getuid());
    else
        return {};
    mkdir(folder.c_str(), 0700);  // (one already there is checked as any other)
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) return {};
    if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return {};
    return folder;
}
#endif

#if defined(_WIN32)
Outcome StoreSaPath(const std::string &folder) {
    const std::string ansi = PluginPcPath(folder);  // what the plug-in reads
    if (ansi.empty())
        return PcFailure("the plug-in cannot read its DTD files from " + folder +
                         " (the ANSI code page cannot spell it)");
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return PcFailure("cannot open HKEY_LOCAL_MACHINE\\" + std::string(kAgentKey) + " (run once as administrator)");
    LONG result =
        RegSetValueExA(key, "SAPATH", 0, REG_SZ, reinterpret_cast<const BYTE *>(ansi.c_str()), DWORD(ansi.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? Outcome::Ok() : PcFailure("cannot set SAPATH");
}
#else
fs::path RegistryFile() {
    std::string named = Environment("CEBRIDGE_REGISTRY");
    if (!named.empty()) return named;
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty()) config = Environment("HOME") + "/.config";
    return fs::path(config) / "cebridge" / "registry.ini";
}

Outcome StoreSaPath(const std::string &folder) {
    fs::path file = RegistryFile();
    std::stringstream current;
    if (std::ifstream in{file, std::ios::binary}) current << in.rdbuf();
    std::string updated = SetRegString(current.str(), kAgentKey, "SAPATH", folder);
    if (updated == current.str()) return Outcome::Ok();
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    fs::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << updated;
        if (!out.flush()) return PcFailure("cannot write " + temporary.string());
    }
    fs::rename(temporary, file, ignored);
    return ignored ? PcFailure("cannot replace " + file.string()) : Outcome::Ok();
}
#endif

}  // namespace

#if defined(_WIN32)
std::string Environment(const char *name) {
    const wchar_t *value = _wgetenv(WideFromUtf8(name).c_str());
    return value ? Utf8FromWide(value) : "";
}
void SetEnvironment(const char *name, const std::string &utf8) {
    if (!utf8.empty()) _wputenv_s(WideFromUtf8(name).c_str(), WideFromUtf8(utf8).c_str());
}
#else
std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}
void SetEnvironment(const char *name, const std::string &utf8) {
    if (!utf8.empty()) setenv(name, utf8.c_str(), 1);
}
#endif

bool MakeDirectories(const std::string &path) {
    std::error_code error;
    fs::create_directories(LocalPath(path), error);
    return fs::is_directory(LocalPath(path), error);
}

Outcome InstallDtdsAndSaPath() {
    const fs::path target = UserDataFolder() / "dtd";
    Outcome installed = InstallDtdsInto(ShippedDtdFolder(), target);
    if (installed.ok) installed = StoreSaPath(target.string());
    if (installed.ok) return installed;
#if !defined(_WIN32)
    // The user's own folders cannot be written (a read-only HOME): this session
    // keeps the agent's settings in memory instead, where the plug-in is told to look.
    const fs::path memory = PrivateMemoryFolder();
    if (!memory.empty() && InstallDtdsInto(ShippedDtdFolder(), memory / "dtd").ok) {
        if (Environment("CEBRIDGE_REGISTRY").empty())
            SetEnvironment("CEBRIDGE_REGISTRY", (memory / "registry.ini").string());
        if (StoreSaPath((memory / "dtd").string()).ok) {
            installed.message += "; this session keeps the agent's settings in " + memory.string();
            return installed;
        }
    }
#endif
    installed.message +=
        "; the plug-in cannot find its settings (it says \"Check Registry!\") and answers without its DTD";
    return installed;
}

std::string UserDataDirectory() { return UserDataFolder().string(); }

// A library of ours: beside the program (the build tree, and Windows), or in the
// private folder of an installed one.
static std::string OwnLibraryPath(const char *name) {
    const fs::path beside = ExecutableFolder() / name;
    std::error_code error;
    if (fs::exists(beside, error)) return beside.string();
    const fs::path installed = ExecutableFolder() / CEBRIDGE_INSTALLED_LIBS / name;
    return fs::exists(installed, error) ? installed.lexically_normal().string() : beside.string();
}

std::string DefaultPluginPath() {
    std::string named = Environment("CEBRIDGE_PLUGIN");
    if (!named.empty()) return named;
#if defined(_WIN32)
    return OwnLibraryPath("cebridge.dll");
#else
    return OwnLibraryPath("libcebridge.so");
#endif
}

std::string ServeModulePath() {
#if defined(_WIN32)
    return OwnLibraryPath("cebridge_serve.dll");
#else
    return OwnLibraryPath("libcebridge_serve.so");
#endif
}

std::string DefaultLogDirectory() {
    std::string named = Environment("CEBRIDGE_LOG_DIR");
    if (!named.empty()) return named;
#if defined(_WIN32)
    return (UserDataFolder() / "logs").string();
#else
    // The plug-in writes every line through to disk: memory-backed storage keeps
    // that from slowing everything down, and a private folder keeps the contacts and
    // messages the log holds from other users.
    fs::path memory = PrivateMemoryFolder();
    if (!memory.empty()) return memory.string();
    std::string state = Environment("XDG_STATE_HOME");
    if (state.empty()) state = Environment("HOME") + "/.local/state";
    return (fs::path(state) / "cebridge" / "logs").string();
#endif
}

std::vector<fs::path> DailyLogs(const std::string &folder) {
    std::vector<fs::path> logs;
    for (const fs::path &entry : FolderItems(LocalPath(folder))) {
        // cebridge_YYYYMMDD.log, the plug-in's daily file
        std::string name = entry.filename().string();
        if (name.size() != 21 || name.rfind("cebridge_", 0) != 0 || name.substr(17) != ".log") continue;
        if (name.substr(9, 8).find_first_not_of("0123456789") == std::string::npos) logs.push_back(entry);
    }
    std::sort(logs.begin(), logs.end());  // oldest first
    return logs;
}

std::string ConsoleLogPath(const std::string &folder) { return folder + "/cebridge_output.txt"; }

void PruneDailyLogs(const std::string &folder, int keepDays, uint64_t keepBytes) {
    const fs::path console = LocalPath(ConsoleLogPath(folder));
    std::error_code failure;
    if (fs::file_size(console, failure) > keepBytes / 8 && !failure) fs::resize_file(console, 0, failure);
    std::time_t cutoff = std::time(nullptr) - static_cast<std::time_t>(keepDays) * 24 * 3600;
    std::tm day = LocalFields(cutoff);
    char oldest[16];
    std::strftime(oldest, sizeof oldest, "%Y%m%d", &day);
    std::vector<fs::path> logs = DailyLogs(folder);
    uint64_t total = 0;
    std::vector<uint64_t> sizes;
    for (const fs::path &log : logs) {
        std::error_code ignored;
        sizes.push_back(fs::file_size(log, ignored));
        total += ignored ? 0 : sizes.back();
    }
    for (size_t i = 0; i < logs.size(); ++i) {
        std::error_code ignored;
        bool tooOld = logs[i].filename().string().substr(9, 8) < oldest;
        if (!tooOld && total <= keepBytes) break;
        if (!tooOld && i + 1 == logs.size())
            fs::resize_file(logs[i], 0, ignored);  // the newest alone is over: it starts again
        else
            fs::remove(logs[i], ignored);
        total -= sizes[i];
    }
}

uint64_t DailyLogSize(const std::string &folder, uint64_t capBytes, bool *cut) {
    const std::vector<fs::path> logs = DailyLogs(folder);
    if (logs.empty()) return 0;
    std::error_code error;
    const uint64_t size = fs::file_size(logs.back(), error);
    if (error) return 0;
    if (capBytes == 0 || size <= capBytes) return size;
    fs::resize_file(logs.back(), 0, error);
    if (cut) *cut = !error;
    return error ? size : 0;
}

Outcome PrepareLogFolder(const std::string &folder) {
    if (!MakeDirectories(folder)) return PcFailure("cannot make the folder");
    const fs::path probe = LocalPath(folder) / ".cebridge-write-test";
    std::ofstream out(probe);
    if (!out) return SystemFailure(folder);
    out.close();
    std::error_code ignored;
    fs::remove(probe, ignored);
    return Outcome::Ok();
}

void KeepLogsPrivate(const std::string &folder) {
    for (const fs::path &log : DailyLogs(folder)) {
        std::error_code ignored;
        fs::permissions(log, fs::perms::owner_read | fs::perms::owner_write, ignored);
    }
}

}  // namespace host
