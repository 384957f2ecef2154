// The host's core in-process, through the real exports against the emulated phone:
// its failures carry the kind front ends answer by (an exit code, an HTTP status).
#include <atomic>

#include <gtest/gtest.h>

#include "device_link.h"
#include "support/phone_copy.h"

namespace {

using host::ErrorKind;

class HostCoreLink : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_client.Open(CEBRIDGE_TEST_PLUGIN, m_logs.str(), &error)) << error;
        ASSERT_TRUE(m_link.Connect().ok);
    }
    void TearDown() override { m_link.Disconnect(); }

    PhoneCopy m_phone;
    TempDir m_logs;
    host::AgentClient m_client;
    std::atomic<bool> m_interrupted{false};
    host::DeviceLink m_link{m_client, m_interrupted};
};

TEST_F(HostCoreLink, FolderFailuresSayWhatWasInTheWay) {
    EXPECT_EQ(m_link.EnterFolder({"My Documents"}).kind, ErrorKind::kNone);
    EXPECT_EQ(m_link.EnterFolder({"My Documents", "none"}).kind, ErrorKind::kNotFound);
    EXPECT_EQ(m_link.EnterFolder({"My Documents", "readme.txt"}).kind, ErrorKind::kNotAFolder);
    EXPECT_EQ(m_link.MakeFolders({"My Documents", "readme.txt", "sub"}).kind, ErrorKind::kNotAFolder);
    std::string text;
    host::Outcome refused = m_link.ItemText("phonebook/private", "7fffffff", &text);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.kind, ErrorKind::kPhoneRefused) << refused.message;
}

TEST_F(HostCoreLink, AnInterruptedTransferSaysSo) {
    m_interrupted = true;
    host::Outcome outcome = m_link.Download("readme.txt", (m_logs.path() / "x").string(), {});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.kind, ErrorKind::kInterrupted) << outcome.message;
}

}  // namespace
