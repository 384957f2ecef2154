// One plug-in session against a private copy of the demo phone, with its log in a
// folder of its own: what most end-to-end tests of the session core start from.
#ifndef CEBRIDGE_TESTS_E2E_CORE_AGENT_SESSION_H
#define CEBRIDGE_TESTS_E2E_CORE_AGENT_SESSION_H

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "support/phone_copy.h"
#include "support/test_agent.h"

struct AgentSession {
    // `editDevice` runs before the plug-in starts; `initialize` false leaves the
    // agent loaded but without a session.
    explicit AgentSession(const std::function<void(nlohmann::json &)> &editDevice = nullptr, bool initialize = true) {
        if (editDevice) phone.EditDevice(editDevice);
        if (initialize) agent.Initialize(logs.str());
    }

    // Today's log file: "<dir>/cebridge_YYYYMMDD.log".
    std::filesystem::path LogFile() const {
        std::time_t now = std::time(nullptr);
        std::tm local{};
#if defined(_WIN32)
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        char name[32];
        std::strftime(name, sizeof name, "cebridge_%Y%m%d.log", &local);
        return logs.path() / name;
    }

    std::string LogText() const { return ReadFileText(LogFile()); }

    // Waits until the log holds `text`; false after `timeoutMs`.
    bool WaitForLog(const std::string &text, int timeoutMs = 10000) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (LogText().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // CMD_APP_CON that must succeed.
    void Connect() {
        Answer answer = agent.Request(CMD_APP_CON, 0);
        ASSERT_EQ(answer.header.nStatus, ST_OK);
    }

    PhoneCopy phone;
    TempDir logs;
    TestAgent agent;
};

#endif  // CEBRIDGE_TESTS_E2E_CORE_AGENT_SESSION_H
