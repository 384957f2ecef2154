// The agent's key in the real Windows registry: an existing SAPATH is read as it
// stands, and values are written with the types the agent reads.
#include <gtest/gtest.h>

#include <cstring>

#include "core/registry_key.h"
#include "core/session.h"
#include "support/windows_registry.h"

namespace {

class AgentRegistry : public ::testing::Test {
protected:
    AgentRegistry() { windows_registry::DeleteKey(kAgentRegistryKey); }
    windows_registry::KeySnapshot m_keep{kAgentRegistryKey};
};

TEST_F(AgentRegistry, AnExistingSaPathIsReadAndLeftAsItIs) {
    const std::string folder = "C:\\Program Files\\Agent\\dtd";
    ASSERT_TRUE(windows_registry::SetStrings(kAgentRegistryKey, {{"SAPATH", folder}}));
    DeviceSession session;
    ASSERT_TRUE(session.Configure(nullptr));
    EXPECT_EQ(std::string(session.m_szSaPath), folder);
    EXPECT_EQ(windows_registry::QueryString(kAgentRegistryKey, "SAPATH"), folder);
}

TEST_F(AgentRegistry, NumbersAreDwordsAndStringsAreRegSz) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(kAgentRegistryKey));
    char number[16] = "42";
    ASSERT_TRUE(key.Value("Count", number, sizeof number, RegistryKey::NUMBER, RegistryKey::WRITE));
    char text[16] = "abc";
    ASSERT_TRUE(key.Value("Name", text, sizeof text, RegistryKey::STRING, RegistryKey::WRITE));
    key.Close();

    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentRegistryKey, 0, KEY_READ, &raw), ERROR_SUCCESS);
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(raw, "Count", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 42u);
    char stored[16] = {};
    size = sizeof stored;
    EXPECT_EQ(RegQueryValueExA(raw, "Name", nullptr, &type, reinterpret_cast<BYTE *>(stored), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(stored, "abc");
    RegCloseKey(raw);
}

}  // namespace
