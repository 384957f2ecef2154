// A PhoneSession of the host's core in this process, through the real exports of the
// plug-in against a copy of the emulated phone, with its own log and data folders.
#ifndef CEBRIDGE_TESTS_HOSTCORE_CORE_FIXTURE_H
#define CEBRIDGE_TESTS_HOSTCORE_CORE_FIXTURE_H

#include <atomic>

#include <gtest/gtest.h>

#include "phone_session.h"
#include "support/phone_copy.h"

class CoreSessionTest : public ::testing::Test {
protected:
    host::Outcome Connect() {
        host::ConnectReport report;
        return m_session.Connect({m_phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, m_logs.str(), false}, &report);
    }
    void ConnectOrFail() {
        host::Outcome outcome = Connect();
        ASSERT_TRUE(outcome.ok) << outcome.message;
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

#endif  // CEBRIDGE_TESTS_HOSTCORE_CORE_FIXTURE_H
