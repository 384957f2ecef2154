// One open key of the PC registry below HKEY_LOCAL_MACHINE, and the value access
// the session's configuration uses.
#ifndef CEBRIDGE_CORE_REGISTRY_KEY_H
#define CEBRIDGE_CORE_REGISTRY_KEY_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The agent's own key, where SAPATH lives.
constexpr char kAgentRegistryKey[] = "SOFTWARE\\MERIDO 3.0\\MERIDOAPI";
// The message volume when the key holds no SMSVOLUME.
constexpr char kDefaultSmsVolume[] = "\\sms.vol";

class RegistryKey {
public:
    enum Type : uint32_t { NUMBER = 0, STRING = 1 };
    enum Mode : uint32_t { READ = 0, READ_OR_CREATE = 1, WRITE = 2 };
    // Values are read through a buffer of this size; a string of 127 characters
    // still fits whole.
    static constexpr size_t kReadBufferSize = 128;

    bool Open(const char *keyPath);
    void Close();

    // WRITE stores `text` (a string, or a number written as decimal text).
    // READ puts the value into `text` as text ("%s" or "%d"). READ_OR_CREATE does
    // the same and, when the value is absent, first stores `text` as its default.
    // A stored string longer than the read buffer is never overwritten: it is read
    // whole when it fits `textSize`, and refused (false, `text` unchanged) when not.
    bool Value(const char *name, char *text, size_t textSize, uint32_t type, uint32_t mode);
    // Whether the last Value read refused a stored string longer than `textSize`.
    bool Refused() const { return m_refused; }

private:
    bool Store(const char *name, const char *text, uint32_t type);
    platform::RegistryHandle m_key;
    bool m_refused = false;
};

#endif  // CEBRIDGE_CORE_REGISTRY_KEY_H
