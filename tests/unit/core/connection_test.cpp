// ConnectDevice against the emulated phone with short time-outs, and the
// registry access behind the session's SAPATH setting.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "core/registry_key.h"
#include "core/session.h"
#include "log_capture.h"
#include "support/phone_copy.h"

namespace {

using Clock = std::chrono::steady_clock;

// A phone with nothing but its device.json: enough for the link switches.
class BarePhone {
public:
    explicit BarePhone(const std::string &deviceJson) {
        std::filesystem::create_directories(m_source.path() / "bare" / "fs");
        WriteFileText(m_source.path() / "bare" / "device.json", deviceJson);
        m_phone = std::make_unique<PhoneCopy>(m_source.path() / "bare");
    }

private:
    TempDir m_source;
    std::unique_ptr<PhoneCopy> m_phone;
};

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

namespace {

// The agent's side of a session dispatched on the test's thread: answers are noted,
// then refused, so the plug-in frees them as it frees any refused answer.
struct NotedAnswer {
    uint32_t status;
    std::string body;
};
std::mutex g_notedLock;
std::vector<NotedAnswer> g_noted;

int32_t CEBRIDGE_CALL NoteAndRefuse(uint32_t, AgentPacket *packet, uint32_t) {
    std::lock_guard<std::mutex> lock(g_notedLock);
    g_noted.push_back(
        {packet->nStatus, std::string(reinterpret_cast<const char *>(packet->pBody), packet->nBodyLength)});
    return 0;
}

}  // namespace

// The connect request with the link time-out shortened, as the agent would see it.
TEST(ConnectDevice, ANeverUpLinkTimesOutAndTheConnectIsAnsweredWithTheLinkError) {
    BarePhone phone(R"({"link": {"neverUp": true}})");
    LogCapture log;
    // Answers go to the last SE_Initialize's callback; that session itself stays idle.
    SE_Initialize(&NoteAndRefuse, 0, 0, 0, "", "");
    SE_UnInitialize();
    DeviceSession session;
    session.Stop();  // the request is dispatched on this thread: the worker (and its Configure) ends first
    session.m_connectTimeoutMs = 300;
    AgentPacket request{};
    request.versionMajor = 1;
    request.command = CMD_APP_CON;
    request.uid = 1;
    g_noted.clear();
    Clock::time_point start = Clock::now();
    session.DispatchRequest(0, sizeof request, CopyPacketWithBody(&request));
    EXPECT_GE(MillisecondsSince(start), 290);
    ASSERT_EQ(g_noted.size(), 1u);
    EXPECT_EQ(g_noted[0].status, ST_CONNECT_FAILED);
    EXPECT_EQ(g_noted[0].body, std::string("\x05\x08\0\0\0"
                                           "7FFFFFFF",
                                           13));
    EXPECT_TRUE(log.Contains("WAIT FOR [300]ms"));
    EXPECT_TRUE(log.Contains("WAIT RAPI CONNECTION"));
    EXPECT_TRUE(log.Contains("RAPI CONNECT TIMEOUT[300ms]"));
    EXPECT_TRUE(log.Contains("Active Sync Connected FAIL"));
    EXPECT_EQ(session.m_nPimReady, 0);
}

TEST(RegistryKey, ReadsWholeValuesAndNeverOverwritesOnesThatDoNotFitTheReadBuffer) {
    TempDir pc;
    std::string file = (pc.path() / "registry.ini").string();
    ScopedEnv registry("CEBRIDGE_REGISTRY", file);
    const std::string key = "SOFTWARE\\MERIDO 3.0\\TEST";
    const std::string exact(127, 'a'), longer(200, 'b'), tooLong(300, 'c');
#if defined(_WIN32)
    // Windows keeps the values in the real registry; the key goes again at the end.
    windows_registry::KeySnapshot keep(key);
    windows_registry::DeleteKey(key);
    ASSERT_TRUE(windows_registry::SetStrings(key, {{"Exact", exact}, {"Longer", longer}, {"TooLong", tooLong}}));
#else
    WriteFileText(file, RegistryFileText(key, {{"Exact", exact}, {"Longer", longer}, {"TooLong", tooLong}}));
#endif

    RegistryKey reg;
    ASSERT_TRUE(reg.Open(key.c_str()));
    char text[256] = {};
    EXPECT_TRUE(reg.Value("Exact", text, sizeof text, RegistryKey::STRING, RegistryKey::READ_OR_CREATE));
    EXPECT_EQ(std::string(text), exact);
    text[0] = 0;
    EXPECT_TRUE(reg.Value("Longer", text, sizeof text, RegistryKey::STRING, RegistryKey::READ_OR_CREATE));
    EXPECT_EQ(std::string(text), longer);
    text[0] = 0;
    EXPECT_FALSE(reg.Value("TooLong", text, sizeof text, RegistryKey::STRING, RegistryKey::READ_OR_CREATE));
    EXPECT_STREQ(text, "");

    // Absent: mode 0 leaves it absent, mode 1 creates it with the buffer's text.
    EXPECT_FALSE(reg.Value("Missing", text, sizeof text, RegistryKey::STRING, RegistryKey::READ));
    char fallback[16] = "dflt";
    EXPECT_FALSE(reg.Value("Missing", fallback, sizeof fallback, RegistryKey::STRING, RegistryKey::READ_OR_CREATE));
    EXPECT_TRUE(reg.Value("Missing", text, sizeof text, RegistryKey::STRING, RegistryKey::READ));
    EXPECT_STREQ(text, "dflt");

    // Numbers travel as decimal text.
    char number[16] = "42";
    EXPECT_TRUE(reg.Value("Count", number, sizeof number, RegistryKey::NUMBER, RegistryKey::WRITE));
    char readBack[16] = {};
    EXPECT_TRUE(reg.Value("Count", readBack, sizeof readBack, RegistryKey::NUMBER, RegistryKey::READ));
    EXPECT_STREQ(readBack, "42");
    reg.Close();

#if defined(_WIN32)
    std::string stored = windows_registry::ExportText(key);
#else
    std::string stored = ReadFileText(file);
#endif
    EXPECT_NE(stored.find(tooLong), std::string::npos);
    EXPECT_NE(stored.find(longer), std::string::npos);
}
