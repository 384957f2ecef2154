// A PhoneSession of the host's core in this process, through the real exports of the
// plug-in against a copy of the emulated phone, with its own log and data folders.
#ifndef CEBRIDGE_TESTS_HOSTCORE_CORE_FIXTURE_H
#define CEBRIDGE_TESTS_HOSTCORE_CORE_FIXTURE_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "phone_session.h"
#include "progress_sink.h"
#include "support/phone_copy.h"

// Records what a copy reported; `onFile` runs as each file starts.
struct RecordingSink : host::TransferSink {
    void Begin(uint64_t total, uint64_t count) override { totalBytes = total, files = count; }
    void StartFile(const std::string &shown) override {
        started.push_back(shown);
        if (onFile) onFile(started.size());
    }
    void Add(uint64_t bytes) override { done += bytes; }
    void Finish(bool ok) override { finished = ok ? 1 : 0; }
    void Warning(const std::string &text) override { warnings.push_back(text); }
    uint64_t totalBytes = 0, files = 0, done = 0;
    int finished = -1;
    std::vector<std::string> started, warnings;
    std::function<void(size_t)> onFile;
};

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
    // Connects anew, the phone's device.json changed by `edit` first: the emulator
    // reads its faults and stores as the link comes up.
    void Reconnect(const std::function<void(nlohmann::json &)> &edit = nullptr) {
        if (m_session.connected) m_session.link.Disconnect();
        m_session.connected = false;
        if (edit) m_phone.EditDevice(edit);
        ConnectOrFail();
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
