// The host's core in-process, through the real exports against the emulated phone:
// its failures carry the kind front ends answer by (an exit code, an HTTP status).
#include <algorithm>

#include "core_fixture.h"
#include "pc_setup.h"

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

// One long session in the default log folder: the plug-in's log never grows past its
// cap by more than one request's lines (it is emptied between two requests, again and
// again), and the user is told once.
TEST_F(HostCoreSession, TheLogCapHoldsWithinOneSession) {
#if defined(_WIN32)
    GTEST_SKIP() << "known to fail on Windows: the log the plug-in holds open is not emptied there";
#endif
    TempDir runtime;
    ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.str()), noLogDir("CEBRIDGE_LOG_DIR", "");
    host::SessionOptions options{m_phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, "", false};
    options.logCapBytes = 64 << 10;
    const std::string folder = host::DefaultLogDirectory();
    ASSERT_EQ(folder.rfind(runtime.str(), 0), 0u) << folder;
    testing::internal::CaptureStderr();
    host::ConnectReport report;
    ASSERT_TRUE(m_session.Connect(options, &report).ok);
    uint64_t before = host::DailyLogSize(folder), largestRequest = 0, largest = 0;
    int emptied = 0;
    for (int request = 0; request < 40; ++request) {
        std::vector<host::ContentItem> listed;
        ASSERT_TRUE(m_session.link.Listing("phonebook/private", &listed).ok);
        const uint64_t after = host::DailyLogSize(folder);
        if (after < before) ++emptied;
        largestRequest = std::max(largestRequest, after < before ? after : after - before);
        largest = std::max(largest, after);
        before = after;
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_GE(emptied, 2);
    EXPECT_LE(largest, options.logCapBytes + largestRequest);
    size_t warnings = 0;
    for (size_t at = said.find("log passed"); at != std::string::npos; at = said.find("log passed", at + 1)) ++warnings;
    EXPECT_EQ(warnings, 1u) << said;
}

}  // namespace
