// The four exports as an agent meets them: start, answers on the worker, the log,
// the PC registry on first run, refused answers and the end of a session.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agent_session.h"

namespace {

std::string FirstLines(const std::string &text, int count) {
    std::string out;
    size_t start = 0;
    for (int i = 0; i < count && start < text.size(); ++i) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t stamp = line.find("] ");
        out += (stamp == std::string::npos ? line : line.substr(stamp + 2)) + "\n";
        start = end + 2;
    }
    return out;
}

}  // namespace

TEST(Lifecycle, PingIsAnsweredOnceAsUnsupportedFromTheWorker) {
    AgentSession session;
    Answer answer = session.agent.Request(CMD_PING, 0);
    EXPECT_EQ(answer.header.nStatus, ST_UNSUPPORTED);
    EXPECT_EQ(answer.header.command, CMD_PING);
    EXPECT_EQ(answer.header.nBodyLength, 0u);
    EXPECT_TRUE(answer.body.empty());
    EXPECT_EQ(answer.event, EVT_DLL_TO_AGENT);
    EXPECT_NE(answer.thread, std::this_thread::get_id());

    // Only 0x5000 carries requests; anything else is ignored but still returns 0x20.
    AgentPacket stray{};
    stray.command = CMD_PING;
    stray.tid = 999;
    EXPECT_EQ(session.agent.SendPacket(EVT_DLL_TO_AGENT, &stray), 0x20);
    EXPECT_EQ(session.agent.SendPacket(0x1234, &stray), 0x20);
    // Requests are served in order: had a stray been queued, it would be answered first.
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    EXPECT_EQ(session.agent.AnswersFor(answer.header.tid).size(), 1u);
    EXPECT_TRUE(session.agent.AnswersFor(999).empty());

    // The daily log, opened with the start banner.
    EXPECT_EQ(FirstLines(session.LogText(), 2),
              "======================START ACTIVE SYNC[3.0.0.15] ==================\n"
              "Initialized the active sync\n");
}

TEST(Lifecycle, RefusedAnswersAreFreedByThePlugin) {
    AgentSession session;
    session.agent.SetAcceptAnswers(false);
    uint32_t tid = session.agent.Send(CMD_NOTI, 0, Body({{PAR_NAME, "bye"}}));
    ASSERT_TRUE(session.agent.WaitForFinal(tid, 10000));
    // Refused: the plug-in gave it back to itself (checked by the leak checker).
    EXPECT_TRUE(session.WaitForLog("Delete pData Complete"));
    session.agent.SetAcceptAnswers(true);
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
}

TEST(Lifecycle, TwoSessionsServeTheFirstAndTheLogKeepsItsFirstFolder) {
    AgentSession session;
    TempDir otherLogs;
    session.agent.Initialize(otherLogs.str(), "other");
    // Only the first session answers: two requests, two answers, each once (the
    // agent fails the test on a second final answer).
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    EXPECT_EQ(session.agent.AnswerCount(), 2u);

    session.agent.UnInitialize();  // the first session goes; the second now serves
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    session.agent.UnInitialize();
    session.agent.UnInitialize();  // an empty list: only the log line
    EXPECT_TRUE(std::filesystem::is_empty(otherLogs.path()));
    EXPECT_NE(session.LogText().find("Uninitialized the activeSync"), std::string::npos);

    // A new start after the list was dropped makes a working session again.
    session.agent.Initialize(session.logs.str());
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
}

TEST(Lifecycle, FirstRunWithoutARegistryCreatesTheKeyWithAnEmptySaPath) {
    AgentSession session(nullptr, false);
    session.phone.RemoveRegistry();
    session.agent.Initialize(session.logs.str());
    session.agent.Request(CMD_PING, 0);  // answered after the worker configured itself
    std::string registry = session.phone.ReadRegistry();
    EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\MERIDO 3.0\\MERIDOAPI]"), std::string::npos) << registry;
    EXPECT_NE(registry.find("\"SAPATH\"=\"\""), std::string::npos) << registry;
    EXPECT_NE(session.LogText().find("BSET CONFIGUERE"), std::string::npos);
}

TEST(Lifecycle, ReleaseMemoryTakesNullAndAnswersOnlyAfterCopying) {
    AgentSession session;
    EXPECT_EQ(session.agent.seReleaseMemory(nullptr), 0x20);
    // The agent may free its request as soon as SE_EventHandle returns: the
    // answer to a NOTI still carries the whole body.
    std::vector<uint8_t> body = Body({{PAR_NAME, "n"}, {PAR_XMLBODY, std::string(5000, 'q')}});
    uint32_t tid = session.agent.Send(CMD_NOTI, 0, body);
    ASSERT_TRUE(session.agent.WaitForFinal(tid, 10000));
    Answer answer = session.agent.AnswersFor(tid).front();
    EXPECT_EQ(answer.header.nStatus, ST_DISCONNECTED);
    EXPECT_EQ(answer.body, body);
}

// An agent that delivers its last events on one thread while another unloads and
// loads again: each event reaches a live session or none, never a freed one (the
// sanitizer presets turn a stale session into a report), and nothing is answered twice.
TEST(Lifecycle, EventsOverlappingUnloadAndReloadReachOnlyLiveSessions) {
    AgentSession session;
    constexpr uint32_t kEvents = 3000;
    std::atomic<bool> sending{true};
    std::thread events([&] {
        for (uint32_t i = 0; i < kEvents; ++i) session.agent.Send(CMD_PING, 0, {}, 100000 + i);
        sending = false;
    });
    int cycles = 0;
    while (sending && cycles < 400) {
        session.agent.UnInitialize();
        session.agent.Initialize(session.logs.str());
        ++cycles;
    }
    events.join();
    EXPECT_GT(cycles, 0);
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    for (uint32_t i = 0; i < kEvents; ++i) EXPECT_LE(session.agent.AnswersFor(100000 + i).size(), 1u) << i;
}
