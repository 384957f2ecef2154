// The PC registry on POSIX: a file in the textual form of a .reg export.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\MERIDO 3.0\MERIDOAPI]
//   "SAPATH"="C:\\some\\dir"
//   "Count"=dword:0000002a
//
// Every change rewrites the whole file beside itself and renames it into place, so a
// crash never leaves half a file. Keys and values this code does not understand are
// carried over unchanged. Names of keys and values compare without regard to case,
// as in the Windows registry.
#include "platform/platform.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

namespace platform {

namespace {

constexpr const char *kHeader = "Windows Registry Editor Version 5.00";
constexpr const char *kRoot = "HKEY_LOCAL_MACHINE";
constexpr const char *kDwordPrefix = "dword:";

struct RegistryValue {
    std::string name;
    std::string data;  // the text right of '=' as it stands in the file
};

struct RegistryKey {
    std::string path;  // "HKEY_LOCAL_MACHINE\..."
    std::vector<RegistryValue> values;
};

using RegistryKeys = std::vector<RegistryKey>;

// One process-wide lock: two sessions configuring at once must not lose each other's
// writes between reading and renaming the file.
std::mutex g_registryLock;

bool SameName(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string RegistryFilePath() {
    const char *explicitPath = std::getenv("CEBRIDGE_REGISTRY");
    if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
    const char *configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') return std::string(configHome) + "/cebridge/registry.ini";
    const char *home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/.config/cebridge/registry.ini";
    return std::string();
}

// ---- the text form -------------------------------------------------------------------

std::string Quote(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// Reads a quoted text starting at text[at] == '"'; `at` ends after the closing quote.
bool Unquote(const std::string &text, size_t *at, std::string *out) {
    if (*at >= text.size() || text[*at] != '"') return false;
    out->clear();
    for (size_t i = *at + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            *at = i + 1;
            return true;
        }
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        *out += text[i];
    }
    return false;
}

std::string DwordData(uint32_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%s%08" PRIx32, kDwordPrefix, value);
    return text;
}

bool ParseDword(const std::string &data, uint32_t *value) {
    const size_t prefix = std::strlen(kDwordPrefix);
    if (data.size() != prefix + 8 || strncasecmp(data.c_str(), kDwordPrefix, prefix) != 0) return false;
    char *end = nullptr;
    unsigned long parsed = std::strtoul(data.c_str() + prefix, &end, 16);
    if (end == nullptr || *end != '\0') return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// A value line: "name"=data, or @=data for the key's default value.
bool ParseValueLine(const std::string &line, RegistryValue *value) {
    size_t at = 0;
    if (line[0] == '@') {
        value->name.clear();
        at = 1;
    } else if (!Unquote(line, &at, &value->name)) {
        return false;
    }
    if (at >= line.size() || line[at] != '=') return false;
    value->data = line.substr(at + 1);
    return true;
}

std::string TrimLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

RegistryKeys Parse(std::istream &in) {
    RegistryKeys keys;
    std::string line;
    while (std::getline(in, line)) {
        line = TrimLineEnd(line);
        if (line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (line.empty() || line == kHeader || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            keys.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        RegistryValue value;
        if (keys.empty() || !ParseValueLine(line, &value)) continue;
        // hex: values may go on over lines that end with a backslash.
        while (!value.data.empty() && value.data[0] != '"' && value.data.back() == '\\' && std::getline(in, line)) {
            // Appended piece by piece: GCC 12 at -O3 misreads "\n" + string as overlapping copies.
            value.data += '\n';
            value.data += TrimLineEnd(line);
        }
        keys.back().values.push_back(value);
    }
    return keys;
}

std::string Format(const RegistryKeys &keys) {
    std::string text = std::string(kHeader) + "\n\n";
    for (const RegistryKey &key : keys) {
        text += "[" + key.path + "]\n";
        for (const RegistryValue &value : key.values)
            text += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" + value.data + "\n";
        text += "\n";
    }
    return text;
}

// ---- the file ---------------------------------------------------------------------------

// A missing file is an empty registry.
RegistryKeys Load(const std::string &path) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    std::string text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
    std::fclose(file);
    std::istringstream in(text);
    return Parse(in);
}

bool CreateParentDirectories(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool Save(const std::string &path, const RegistryKeys &keys) {
    if (!CreateParentDirectories(path)) return false;
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const std::string text = Format(keys);
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fflush(file) == 0 && written && fsync(fileno(file)) == 0;
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

RegistryKey *FindKey(RegistryKeys &keys, const std::string &path) {
    for (RegistryKey &key : keys) {
        if (SameName(key.path, path)) return &key;
    }
    return nullptr;
}

RegistryValue *FindValue(RegistryKey *key, const std::string &name) {
    if (key == nullptr) return nullptr;
    for (RegistryValue &value : key->values) {
        if (SameName(value.name, name)) return &value;
    }
    return nullptr;
}

// "SOFTWARE\A\B" -> "HKEY_LOCAL_MACHINE\SOFTWARE\A\B"; empty when the path cannot name
// a key (an empty part, or a character the file's section line cannot hold).
std::string SectionFor(const char *keyPath) {
    std::string path = keyPath;
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (path.find("\\\\") != std::string::npos || path.find_first_of("[]\r\n") != std::string::npos) return {};
    return path.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + path;
}

bool IsStorableText(const char *text) { return std::strpbrk(text, "\r\n") == nullptr; }

}  // namespace

struct RegistryHandle::State {
    std::string filePath;
    std::string section;
};

RegistryHandle::~RegistryHandle() { Close(); }

bool RegistryHandle::CreateOrOpen(const char *keyPath) {
    Close();
    if (keyPath == nullptr) return false;
    const std::string section = SectionFor(keyPath);
    const std::string filePath = RegistryFilePath();
    if (section.empty() || filePath.empty()) return false;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        RegistryKeys keys = Load(filePath);
        if (FindKey(keys, section) == nullptr) {
            keys.push_back({section, {}});
            if (!Save(filePath, keys)) return false;
        }
    }
    m_state = new State{filePath, section};
    return true;
}

void RegistryHandle::Close() {
    delete m_state;
    m_state = nullptr;
}

bool RegistryHandle::IsOpen() const { return m_state != nullptr; }

bool RegistryHandle::QueryString(const char *name, char *buffer, size_t capacity, size_t *needed) {
    if (needed != nullptr) *needed = 0;
    if (m_state == nullptr || name == nullptr) return false;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        RegistryKeys keys = Load(m_state->filePath);
        RegistryValue *value = FindValue(FindKey(keys, m_state->section), name);
        size_t at = 0;
        if (value == nullptr || !Unquote(value->data, &at, &text) || at != value->data.size()) return false;
    }
    if (needed != nullptr) *needed = text.size() + 1;
    if (buffer == nullptr || text.size() + 1 > capacity) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool RegistryHandle::QueryNumber(const char *name, uint32_t *value) {
    if (m_state == nullptr || name == nullptr || value == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_registryLock);
    RegistryKeys keys = Load(m_state->filePath);
    RegistryValue *found = FindValue(FindKey(keys, m_state->section), name);
    return found != nullptr && ParseDword(found->data, value);
}

namespace {

// Reads the file, sets one value of one key (creating the key again if someone removed
// it meanwhile) and writes the file back.
bool StoreValue(const std::string &filePath, const std::string &section, const char *name, std::string data) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    RegistryKeys keys = Load(filePath);
    RegistryKey *key = FindKey(keys, section);
    if (key == nullptr) {
        keys.push_back({section, {}});
        key = &keys.back();
    }
    if (RegistryValue *existing = FindValue(key, name))
        existing->data = std::move(data);
    else
        key->values.push_back({name, std::move(data)});
    return Save(filePath, keys);
}

}  // namespace

bool RegistryHandle::SetString(const char *name, const char *value) {
    if (m_state == nullptr || name == nullptr || value == nullptr) return false;
    if (!IsStorableText(name) || !IsStorableText(value)) return false;
    return StoreValue(m_state->filePath, m_state->section, name, Quote(value));
}

bool RegistryHandle::SetNumber(const char *name, uint32_t value) {
    if (m_state == nullptr || name == nullptr || !IsStorableText(name)) return false;
    return StoreValue(m_state->filePath, m_state->section, name, DwordData(value));
}

}  // namespace platform
