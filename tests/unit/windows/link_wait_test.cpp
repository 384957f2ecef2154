// The link wait on Windows: the provider's link handle is a Win32 event, waited on
// together with the session's stop event.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace {

using platform::LinkWait;

class Win32LinkWait : public ::testing::Test {
protected:
    ~Win32LinkWait() override { CloseHandle(m_link); }
    HANDLE m_link = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    platform::Event m_stop;
};

TEST_F(Win32LinkWait, SignalledStoppedTimedOutAndFailed) {
    ASSERT_NE(m_link, nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(platform::WaitForLink(m_link, m_stop, 50), LinkWait::TimedOut);
    EXPECT_GE(GetTickCount() - start, 40u);

    SetEvent(m_link);
    EXPECT_EQ(platform::WaitForLink(m_link, m_stop, platform::kInfinite), LinkWait::Signalled);
    m_stop.Set();  // a stopping session wins over a link that came up
    EXPECT_EQ(platform::WaitForLink(m_link, m_stop, platform::kInfinite), LinkWait::Stopped);

    EXPECT_EQ(platform::WaitForLink(nullptr, m_stop, 0), LinkWait::Failed);
    EXPECT_EQ(platform::WaitForLink(INVALID_HANDLE_VALUE, m_stop, 0), LinkWait::Failed);
}

TEST_F(Win32LinkWait, WakesWhenEitherEventIsSetFromAnotherThread) {
    std::thread provider([this] {
        Sleep(30);
        SetEvent(m_link);
    });
    EXPECT_EQ(platform::WaitForLink(m_link, m_stop, 10000), LinkWait::Signalled);
    provider.join();

    ResetEvent(m_link);
    std::thread stopper([this] {
        Sleep(30);
        m_stop.Set();
    });
    EXPECT_EQ(platform::WaitForLink(m_link, m_stop, 10000), LinkWait::Stopped);
    stopper.join();
}

}  // namespace
