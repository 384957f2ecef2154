#include "support/windows_registry.h"

#if defined(_WIN32)

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "support/phone_copy.h"

namespace windows_registry {
namespace {

// An open key, closed at the end of the scope; null when it could not be opened.
class OpenKey {
public:
    OpenKey(const std::string &keyPath, bool create) {
        LONG result = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &m_key, nullptr)
                             : RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &m_key);
        if (result != ERROR_SUCCESS) m_key = nullptr;
    }
    ~OpenKey() {
        if (m_key) RegCloseKey(m_key);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

struct RawValue {
    std::string name;
    DWORD type;
    std::vector<uint8_t> data;
};

std::vector<RawValue> AllValues(HKEY key) {
    DWORD count = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName, &longestData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return {};
    std::vector<RawValue> values;
    for (DWORD index = 0; index < count; ++index) {
        std::string name(longestName + 1, '\0');
        DWORD nameLength = longestName + 1;
        RawValue value{{}, 0, std::vector<uint8_t>(longestData)};
        DWORD dataSize = longestData;
        if (RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &value.type, value.data.data(), &dataSize) !=
            ERROR_SUCCESS)
            continue;
        value.name = name.substr(0, nameLength);
        value.data.resize(dataSize);
        values.push_back(std::move(value));
    }
    return values;
}

std::string StringOf(const RawValue &value) {
    std::string text(value.data.begin(), value.data.end());
    return text.substr(0, text.find('\0'));
}

}  // namespace

bool SetStrings(const std::string &keyPath, const StringValues &values) {
    OpenKey key(keyPath, true);
    if (!key.get()) return false;
    bool ok = true;
    for (const auto &[name, text] : values)
        ok &= RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    return ok;
}

void DeleteKey(const std::string &keyPath) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str()); }

std::optional<std::string> QueryString(const std::string &keyPath, const std::string &name) {
    OpenKey key(keyPath, false);
    if (!key.get()) return std::nullopt;
    for (const RawValue &value : AllValues(key.get()))
        if (value.name == name && value.type == REG_SZ) return StringOf(value);
    return std::nullopt;
}

std::string ExportText(const std::string &keyPath) {
    OpenKey key(keyPath, false);
    if (!key.get()) return "";
    StringValues strings;
    std::string numbers;
    for (const RawValue &value : AllValues(key.get())) {
        if (value.type == REG_SZ) strings.emplace_back(value.name, StringOf(value));
        if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, value.data.data(), sizeof number);
            char line[32];
            std::snprintf(line, sizeof line, "=dword:%08lx\n", static_cast<unsigned long>(number));
            numbers += "\"" + value.name + "\"" + line;
        }
    }
    // The file form ends each key with a blank line; the numbers go before it.
    std::string text = RegistryFileText(keyPath, strings);
    text.pop_back();
    return text + numbers + "\n";
}

KeySnapshot::KeySnapshot(std::string keyPath) : m_keyPath(std::move(keyPath)) {
    OpenKey key(m_keyPath, false);
    m_existed = key.get() != nullptr;
    if (!m_existed) return;
    for (RawValue &value : AllValues(key.get())) m_values.push_back({value.name, value.type, std::move(value.data)});
}

KeySnapshot::~KeySnapshot() {
    DeleteKey(m_keyPath);
    if (!m_existed) return;
    OpenKey key(m_keyPath, true);
    for (const Value &value : m_values)
        RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
}

}  // namespace windows_registry

#endif  // _WIN32
