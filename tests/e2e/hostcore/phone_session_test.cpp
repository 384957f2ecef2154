// The host's core in-process, through the real exports against the emulated phone:
// its failures carry the kind front ends answer by (an exit code, an HTTP status).
#include "core_fixture.h"

namespace {

using host::ErrorKind;

using HostCoreSession = CoreSessionTest;

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
