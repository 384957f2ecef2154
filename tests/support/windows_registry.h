// The real registry below HKEY_LOCAL_MACHINE, for tests on Windows, where the
// plug-in keeps its settings there rather than in the CEBRIDGE_REGISTRY file.
//
//   windows_registry::KeySnapshot keep("SOFTWARE\\MERIDO 3.0\\MERIDOAPI");
//   windows_registry::SetStrings("SOFTWARE\\MERIDO 3.0\\MERIDOAPI", {{"SAPATH", "C:\\dtd"}});
//   ...                                   // the key is as it was once `keep` goes
#ifndef CEBRIDGE_TESTS_WINDOWS_REGISTRY_H
#define CEBRIDGE_TESTS_WINDOWS_REGISTRY_H

#if defined(_WIN32)

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace windows_registry {

using StringValues = std::vector<std::pair<std::string, std::string>>;

// Creates the key when absent (even with no values) and sets the REG_SZ values.
bool SetStrings(const std::string &keyPath, const StringValues &values);
// Removes the key and everything below it; an absent key is no error.
void DeleteKey(const std::string &keyPath);
// A REG_SZ value; nullopt when the key or the value is absent or of another type.
std::optional<std::string> QueryString(const std::string &keyPath, const std::string &name);
// The key in the text form of a .reg export, as the POSIX registry file holds it
// (strings and dwords); "" when the key is absent.
std::string ExportText(const std::string &keyPath);

// Takes a key's values on construction and puts the key back as it was (or removes
// it again, when it did not exist) on destruction.
class KeySnapshot {
public:
    explicit KeySnapshot(std::string keyPath);
    ~KeySnapshot();
    KeySnapshot(const KeySnapshot &) = delete;
    KeySnapshot &operator=(const KeySnapshot &) = delete;

private:
    struct Value {
        std::string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    std::string m_keyPath;
    bool m_existed = false;
    std::vector<Value> m_values;
};

}  // namespace windows_registry

#endif  // _WIN32

#endif  // CEBRIDGE_TESTS_WINDOWS_REGISTRY_H
