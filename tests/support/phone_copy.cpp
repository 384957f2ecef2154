#include "support/phone_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kAgentKey[] = "SOFTWARE\\MERIDO 3.0\\MERIDOAPI";

void SetEnv(const char *name, const std::string &value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char *name) {
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

fs::path MakeUniqueFolder() {
#if defined(_WIN32)
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path candidate =
            fs::temp_directory_path() / ("cebridge-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) return candidate;
        if (error) return {};
    }
#else
    std::string pattern = (ScratchBase() / "cebridge-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
#endif
}

#if defined(_WIN32)
// Removes a folder and all it holds, also past MAX_PATH: the emulator makes phone
// folders as deep as the phone allows, deeper than the temporary folder leaves
// room for, and the standard library gives up on those.
void RemoveLongTree(const std::wstring &path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            const DWORD kind = entry.dwFileAttributes;
            if ((kind & FILE_ATTRIBUTE_DIRECTORY) && !(kind & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveLongTree(child);
            else if (kind & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(child.c_str());  // a link to a folder: the link goes, not what it names
            else if (SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL))  // read-only files too
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}
#endif

// Registry files escape '\' and '"' inside quoted strings.
std::string RegistryQuoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

// ---- TempDir, ScopedEnv -------------------------------------------------------------

#if !defined(_WIN32)
fs::path ScratchBase() {
    constexpr uintmax_t kRoomWanted = uintmax_t(2) << 30;
    std::error_code error;
    const fs::space_info memory = fs::space("/dev/shm", error);
    return !error && memory.available >= kRoomWanted ? fs::path("/dev/shm") : fs::temp_directory_path();
}
#endif

TempDir::TempDir() : m_path(MakeUniqueFolder()) {
    if (m_path.empty()) ADD_FAILURE() << "cannot create a temporary folder";
}

TempDir::~TempDir() {
    if (m_path.empty()) return;
#if defined(_WIN32)
    RemoveLongTree(L"\\\\?\\" + fs::absolute(m_path).make_preferred().wstring());
#else
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
#endif
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : m_name(name) {
    if (const char *previous = std::getenv(name)) m_previous = previous;
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (m_previous)
        SetEnv(m_name.c_str(), *m_previous);
    else
        UnsetEnv(m_name.c_str());
}

// ---- files -------------------------------------------------------------------------------

std::string ReadFileText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFileText(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

namespace {
// A cross build names the source tree by its POSIX path ("/work/..."): on Windows the
// file functions want it with its drive, as GetFullPathName gives it (Z: under wine).
fs::path SourceTree() {
#if defined(_WIN32)
    std::error_code ignored;
    return fs::absolute(fs::path(CEBRIDGE_TEST_SOURCE_DIR), ignored);
#else
    return fs::path(CEBRIDGE_TEST_SOURCE_DIR);
#endif
}
}  // namespace

fs::path DemoPhoneSource() { return SourceTree() / "data" / "phones" / "demo"; }

fs::path DtdSource() { return SourceTree() / "data" / "dtd"; }

std::string RegistryFileText(const std::string &keyPath,
                             const std::vector<std::pair<std::string, std::string>> &values) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + keyPath + "]\n";
    for (const auto &[name, value] : values) text += RegistryQuoted(name) + "=" + RegistryQuoted(value) + "\n";
    return text + "\n";
}

// ---- PhoneCopy ------------------------------------------------------------------------------

PhoneCopy::PhoneCopy() : PhoneCopy(DemoPhoneSource()) {}

PhoneCopy::PhoneCopy(const fs::path &source) {
#if defined(_WIN32)
    m_agentKey = std::make_unique<windows_registry::KeySnapshot>(kAgentKey);
#endif
    m_imagePath = m_imageDir.path() / source.filename();
    m_registryFile = m_pcDir.path() / "registry.ini";
    std::error_code error;
    fs::copy(source, m_imagePath, fs::copy_options::recursive, error);
    if (error) ADD_FAILURE() << "cannot copy the phone image " << source << ": " << error.message();
    WriteRegistry(DtdSource().string());
    m_env.push_back(std::make_unique<ScopedEnv>("CEBRIDGE_DEVICE", m_imagePath.string()));
    m_env.push_back(std::make_unique<ScopedEnv>("CEBRIDGE_RAPI", std::string(CEBRIDGE_TEST_EMULATOR)));
    m_env.push_back(std::make_unique<ScopedEnv>("CEBRIDGE_REGISTRY", m_registryFile.string()));
}

PhoneCopy::~PhoneCopy() {
    // Environment first (reverse order), then the folders via the TempDir members.
    while (!m_env.empty()) m_env.pop_back();
}

nlohmann::json PhoneCopy::ReadDevice() const {
    std::string text = ReadFileText(m_imagePath / "device.json");
    nlohmann::json device = nlohmann::json::parse(text, nullptr, false);
    if (device.is_discarded()) {
        ADD_FAILURE() << "device.json of " << m_imagePath << " is missing or not JSON";
        return nlohmann::json::object();
    }
    return device;
}

nlohmann::json PhoneCopy::ReadVolume(const std::string &leaf) const { return ReadImageVolume(m_imagePath, leaf); }

nlohmann::json ReadImageVolume(const fs::path &image, const std::string &leaf) {
    nlohmann::json volume = nlohmann::json::parse(ReadFileText(image / "volumes" / (leaf + ".json")));
    std::istringstream journal(ReadFileText(image / "volumes" / (leaf + ".journal")));
    for (std::string line; std::getline(journal, line) && !journal.eof();) {
        if (line.empty()) continue;
        const nlohmann::json change = nlohmann::json::parse(line);
        const bool removes = change.contains("delete");
        const nlohmann::json oid = removes ? change["delete"] : change["put"]["oid"];
        for (nlohmann::json &database : volume["databases"]) {
            if (database["oid"] != change["database"]) continue;
            nlohmann::json &records = database["records"];
            auto found = std::find_if(records.begin(), records.end(), [&](const auto &r) { return r["oid"] == oid; });
            if (found != records.end() && removes) {
                records.erase(found);
            } else if (found != records.end()) {
                *found = change["put"];
            } else if (!removes) {
                records.push_back(change["put"]);
            }
        }
    }
    return volume;
}

void PhoneCopy::EditDevice(const std::function<void(nlohmann::json &)> &edit) {
    nlohmann::json device = ReadDevice();
    edit(device);
    fs::path target = m_imagePath / "device.json";
    fs::path staging = m_imagePath / "device.json.new";
    WriteFileText(staging, device.dump(2) + "\n");
    std::error_code error;
    fs::rename(staging, target, error);
    if (error) ADD_FAILURE() << "cannot replace " << target << ": " << error.message();
}

void PhoneCopy::WriteRegistry(const std::optional<std::string> &saPath,
                              const std::vector<std::pair<std::string, std::string>> &more) {
    std::vector<std::pair<std::string, std::string>> values;
    if (saPath) values.emplace_back("SAPATH", *saPath);
    values.insert(values.end(), more.begin(), more.end());
#if defined(_WIN32)
    windows_registry::DeleteKey(kAgentKey);
    if (!windows_registry::SetStrings(kAgentKey, values)) ADD_FAILURE() << "cannot write the agent's registry key";
#else
    WriteFileText(m_registryFile, RegistryFileText(kAgentKey, values));
#endif
}

void PhoneCopy::RemoveRegistry() {
#if defined(_WIN32)
    windows_registry::DeleteKey(kAgentKey);
#else
    std::error_code ignored;
    fs::remove(m_registryFile, ignored);
#endif
}

std::string PhoneCopy::ReadRegistry() const {
#if defined(_WIN32)
    return windows_registry::ExportText(kAgentKey);
#else
    return ReadFileText(m_registryFile);
#endif
}
