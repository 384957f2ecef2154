// The PC registry on Windows: keys below HKEY_LOCAL_MACHINE.
#include "platform/platform.h"

#include <cstring>

namespace platform {

struct RegistryHandle::State {
    HKEY key;
};

RegistryHandle::~RegistryHandle() { Close(); }

bool RegistryHandle::CreateOrOpen(const char *keyPath) {
    Close();
    if (keyPath == nullptr) return false;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    m_state = new State{key};
    return true;
}

void RegistryHandle::Close() {
    if (m_state == nullptr) return;
    RegCloseKey(m_state->key);
    delete m_state;
    m_state = nullptr;
}

bool RegistryHandle::IsOpen() const { return m_state != nullptr; }

bool RegistryHandle::QueryString(const char *name, char *buffer, size_t capacity, size_t *needed) {
    if (needed != nullptr) *needed = 0;
    if (m_state == nullptr || name == nullptr) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(m_state->key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // The stored data may or may not end with its terminator.
    std::string text(size, '\0');
    if (RegQueryValueExA(m_state->key, name, nullptr, &type, reinterpret_cast<BYTE *>(text.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    text.resize(strnlen(text.c_str(), size));
    if (needed != nullptr) *needed = text.size() + 1;
    if (buffer == nullptr || text.size() + 1 > capacity) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool RegistryHandle::QueryNumber(const char *name, uint32_t *value) {
    if (m_state == nullptr || name == nullptr || value == nullptr) return false;
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExA(m_state->key, name, nullptr, &type, reinterpret_cast<BYTE *>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof number)
        return false;
    *value = number;
    return true;
}

bool RegistryHandle::SetString(const char *name, const char *value) {
    if (m_state == nullptr || name == nullptr || value == nullptr) return false;
    const DWORD size = static_cast<DWORD>(std::strlen(value) + 1);
    return RegSetValueExA(m_state->key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), size) == ERROR_SUCCESS;
}

bool RegistryHandle::SetNumber(const char *name, uint32_t value) {
    if (m_state == nullptr || name == nullptr) return false;
    const DWORD number = value;
    return RegSetValueExA(m_state->key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number) ==
           ERROR_SUCCESS;
}

}  // namespace platform
