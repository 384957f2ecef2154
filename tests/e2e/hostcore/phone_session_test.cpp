// The host's core in-process, through the real exports against the emulated phone:
// its failures carry the kind front ends answer by (an exit code, an HTTP status).
#include <atomic>

#include <gtest/gtest.h>

#include "phone_session.h"
#include "support/phone_copy.h"

namespace {

using host::ErrorKind;

class HostCoreSession : public ::testing::Test {
protected:
    host::Outcome Connect() {
        host::ConnectReport report;
        return m_session.Connect({m_phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, m_logs.str(), false}, &report);
    }
    void TearDown() override {
        if (m_session.connected) m_session.link.Disconnect();
    }

    PhoneCopy m_phone;
    TempDir m_logs;
#if defined(_WIN32)
    ScopedEnv m_dataHome{"LOCALAPPDATA", m_logs.str()};  // where the DTD files are installed
#else
    ScopedEnv m_dataHome{"XDG_DATA_HOME", m_logs.str()};
    ScopedEnv m_stateHome{"XDG_STATE_HOME", m_logs.str()};
#endif
    std::atomic<bool> m_interrupted{false};
    host::PhoneSession m_session{m_interrupted};
};

TEST_F(HostCoreSession, FolderFailuresSayWhatWasInTheWay) {
    ASSERT_TRUE(Connect().ok);
    host::DeviceLink &link = m_session.link;
    EXPECT_EQ(link.EnterFolder({"My Documents"}).kind, ErrorKind::kNone);
    EXPECT_EQ(link.EnterFolder({"My Documents", "none"}).kind, ErrorKind::kNotFound);
    EXPECT_EQ(link.EnterFolder({"My Documents", "readme.txt"}).kind, ErrorKind::kNotAFolder);
    EXPECT_EQ(link.MakeFolders({"My Documents", "readme.txt", "sub"}).kind, ErrorKind::kNotAFolder);
    std::string text;
    host::Outcome refused = link.ItemText("phonebook/private", "7fffffff", &text);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.kind, ErrorKind::kPhoneRefused) << refused.message;
    m_interrupted = true;
    host::Outcome cut = link.Download("readme.txt", (m_logs.path() / "x").string(), {});
    EXPECT_EQ(cut.kind, ErrorKind::kInterrupted) << cut.message;
}

TEST_F(HostCoreSession, ALinkThatNeverComesUpIsNoConnection) {
    m_phone.EditDevice([](nlohmann::json &device) { device["link"]["initRefused"] = true; });
    host::Outcome outcome = Connect();
    EXPECT_EQ(outcome.kind, ErrorKind::kNoConnection) << outcome.message;
    EXPECT_FALSE(m_session.connected);
}

}  // namespace
