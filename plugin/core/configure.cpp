// The session's one setting, SAPATH, read from the PC registry when the worker starts.
#include "core/registry_key.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/session.h"

namespace {

void CopyText(char *out, size_t outSize, const char *text) {
    if (outSize == 0) return;
    std::snprintf(out, outSize, "%s", text);
}

}  // namespace

bool RegistryKey::Open(const char *keyPath) { return m_key.CreateOrOpen(keyPath); }

void RegistryKey::Close() { m_key.Close(); }

bool RegistryKey::Store(const char *name, const char *text, uint32_t type) {
    if (type == STRING) return m_key.SetString(name, text);
    return m_key.SetNumber(name, static_cast<uint32_t>(std::strtol(text, nullptr, 10)));
}

bool RegistryKey::Value(const char *name, char *text, size_t textSize, uint32_t type, uint32_t mode) {
    m_refused = false;
    if (!m_key.IsOpen() || !text || textSize == 0) return false;
    if (mode == WRITE) return Store(name, text, type);

    if (type != STRING) {
        uint32_t number = 0;
        if (m_key.QueryNumber(name, &number)) {
            std::snprintf(text, textSize, "%d", int(number));
            return true;
        }
        if (mode == READ_OR_CREATE) Store(name, text, type);
        return false;
    }

    char buffer[kReadBufferSize] = {};
    size_t needed = 0;
    if (m_key.QueryString(name, buffer, sizeof buffer, &needed)) {
        CopyText(text, textSize, buffer);
        return true;
    }
    if (needed > sizeof buffer) {
        // The value exists but is longer than the read buffer: never replace it.
        if (needed > textSize) {
            LogLine(LOG_FAULT, "Registry value %s too long (%d bytes)", name, int(needed));
            m_refused = true;
            return false;
        }
        std::vector<char> whole(needed, 0);
        if (!m_key.QueryString(name, whole.data(), whole.size(), &needed)) return false;
        CopyText(text, textSize, whole.data());
        return true;
    }
    if (mode == READ_OR_CREATE) Store(name, text, type);
    return false;
}

bool DeviceSession::Configure(uint32_t *) {
    LogLine(LOG_TRACE, "BSET CONFIGUERE");
    RegistryKey key;
    if (!key.Open(kAgentRegistryKey)) {
        LogLine(LOG_FAULT, "PNR Run Setting Failed!! Check Registry!");
        platform::ShowMessageBox("PNR Run Setting Failed!! Check Registry!", "Merido Manager SyncAgent");
    }
    key.Value("SAPATH", m_szSaPath, sizeof m_szSaPath, RegistryKey::STRING, RegistryKey::READ_OR_CREATE);
    // The message volume: absent means the phone's usual one; a name too long for
    // its field names no volume at all rather than a cut one.
    std::snprintf(m_szSmsVolume, sizeof m_szSmsVolume, "%s", kDefaultSmsVolume);
    key.Value("SMSVOLUME", m_szSmsVolume, sizeof m_szSmsVolume, RegistryKey::STRING, RegistryKey::READ);
    if (key.Refused()) m_szSmsVolume[0] = '\0';
    key.Close();
    return true;
}
