#include "pc_setup.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "appointment_time.h"
#include "local_files.h"
#include "text.h"

#if defined(_WIN32)
#include <windows.h>
#else
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

// The shipped DTD files: beside an installed host (../share/cebridge/dtd), or in
// the source tree the host was built from.
fs::path ShippedDtdFolder() {
    fs::path installed = ExecutableFolder() / ".." / "share" / "cebridge" / "dtd";
    std::error_code error;
    if (fs::exists(installed / kDtdFiles[0], error)) return installed;
#ifdef CEBRIDGE_SOURCE_DATA_DIR
    return fs::path(CEBRIDGE_SOURCE_DATA_DIR) / "dtd";
#else
    return installed;
#endif
}

std::string EscapeRegString(const std::string &value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

#if defined(_WIN32)
bool StoreSaPath(const std::string &folder, std::string *error) {
    const std::string ansi = PluginPcPath(folder);  // what the plug-in reads
    if (ansi.empty()) {
        *error = "the plug-in cannot read its DTD files from " + folder + " (the ANSI code page cannot spell it)";
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        *error = "cannot open HKEY_LOCAL_MACHINE\\" + std::string(kAgentKey) + " (run once as administrator)";
        return false;
    }
    LONG result =
        RegSetValueExA(key, "SAPATH", 0, REG_SZ, reinterpret_cast<const BYTE *>(ansi.c_str()), DWORD(ansi.size() + 1));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) *error = "cannot set SAPATH";
    return result == ERROR_SUCCESS;
}
#else
fs::path RegistryFile() {
    std::string named = Environment("CEBRIDGE_REGISTRY");
    if (!named.empty()) return named;
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty()) config = Environment("HOME") + "/.config";
    return fs::path(config) / "cebridge" / "registry.ini";
}

bool StoreSaPath(const std::string &folder, std::string *error) {
    fs::path file = RegistryFile();
    std::stringstream current;
    if (std::ifstream in{file, std::ios::binary}) current << in.rdbuf();
    std::string updated = SetRegistryString(current.str(), kAgentKey, "SAPATH", folder);
    if (updated == current.str()) return true;
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    fs::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << updated;
        if (!out.flush()) {
            *error = "cannot write " + temporary.string();
            return false;
        }
    }
    fs::rename(temporary, file, ignored);
    if (ignored) *error = "cannot replace " + file.string();
    return !ignored;
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

std::string SetRegistryString(const std::string &regText, const std::string &keyPath, const std::string &name,
                              const std::string &value) {
    const std::string section = "[HKEY_LOCAL_MACHINE\\" + keyPath + "]";
    const std::string valueLine = "\"" + name + "\"=\"" + EscapeRegString(value) + "\"";
    std::vector<std::string> lines;
    std::istringstream in(regText);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (lines.empty()) lines = {"Windows Registry Editor Version 5.00"};

    auto sectionAt = std::find(lines.begin(), lines.end(), section);
    if (sectionAt == lines.end()) {
        if (!lines.back().empty()) lines.push_back("");
        lines.push_back(section);
        lines.push_back(valueLine);
    } else {
        auto it = sectionAt + 1;
        const std::string prefix = "\"" + name + "\"=";
        for (; it != lines.end() && !(it->size() > 0 && (*it)[0] == '['); ++it) {
            if (it->compare(0, prefix.size(), prefix) == 0) {
                *it = valueLine;
                break;
            }
        }
        if (it == lines.end() || (it->size() > 0 && (*it)[0] == '[')) {
            auto insertAt = sectionAt + 1;
            while (insertAt != lines.end() && !insertAt->empty() && (*insertAt)[0] != '[') ++insertAt;
            lines.insert(insertAt, valueLine);
        }
    }
    std::string out;
    for (const std::string &line : lines) out += line + "\n";
    return out;
}

bool MakeDirectories(const std::string &path) {
    std::error_code error;
    fs::create_directories(LocalPath(path), error);
    return fs::is_directory(LocalPath(path), error);
}

bool InstallDtdsAndSaPath(std::string *error) {
    fs::path source = ShippedDtdFolder();
    fs::path target = UserDataFolder() / "dtd";
    std::error_code failure;
    fs::create_directories(target, failure);
    for (const char *name : kDtdFiles) {
        fs::copy_file(source / name, target / name, fs::copy_options::overwrite_existing, failure);
        if (failure) {
            *error = "cannot install " + (source / name).string() + ": " + failure.message();
            return false;
        }
    }
    return StoreSaPath(target.string(), error);
}

std::string DefaultPluginPath() {
    std::string named = Environment("CEBRIDGE_PLUGIN");
    if (!named.empty()) return named;
#if defined(_WIN32)
    return (ExecutableFolder() / "cebridge.dll").string();
#else
    return (ExecutableFolder() / "libcebridge.so").string();
#endif
}

std::string DefaultLogDirectory() {
    std::string named = Environment("CEBRIDGE_LOG_DIR");
    if (!named.empty()) return named;
#if defined(_WIN32)
    return (UserDataFolder() / "logs").string();
#else
    // The plug-in writes every line through to disk: memory-backed storage keeps
    // that from slowing transfers down.
    std::string runtime = Environment("XDG_RUNTIME_DIR");
    std::error_code error;
    if (!runtime.empty() && fs::is_directory(runtime, error)) return (fs::path(runtime) / "cebridge").string();
    std::string state = Environment("XDG_STATE_HOME");
    if (state.empty()) state = Environment("HOME") + "/.local/state";
    return (fs::path(state) / "cebridge" / "logs").string();
#endif
}

void PruneDailyLogs(const std::string &folder, int keepDays) {
    std::time_t cutoff = std::time(nullptr) - static_cast<std::time_t>(keepDays) * 24 * 3600;
    std::tm day = LocalFields(cutoff);
    char oldest[16];
    std::strftime(oldest, sizeof oldest, "%Y%m%d", &day);
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(LocalPath(folder), error)) {
        // cebridge_YYYYMMDD.log, the plug-in's daily file
        std::string name = entry.path().filename().string();
        if (name.size() != 21 || name.rfind("cebridge_", 0) != 0 || name.substr(17) != ".log") continue;
        std::string date = name.substr(9, 8);
        if (date.find_first_not_of("0123456789") != std::string::npos || date >= oldest) continue;
        std::error_code ignored;
        fs::remove(entry.path(), ignored);
    }
}

}  // namespace host
