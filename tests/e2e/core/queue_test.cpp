// Requests queued behind a busy worker: abort, a full queue, and the end of a
// session while the worker waits for a link.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "agent_session.h"
#include "e2e/emulator/emulator_fixture.h"
#include "emulator/ceemu_test_hooks.h"

namespace {

// Starts a CMD_APP_CON on a link that comes up only when the test lets it
// (LetTheLinkUp) and returns once the worker waits for that link: requests sent
// meanwhile queue up behind it, however slow the machine.
uint32_t BlockWorker(AgentSession &session) {
    uint32_t tid = session.agent.Send(CMD_APP_CON, 0);
    EXPECT_TRUE(session.WaitForLog("WAIT RAPI CONNECTION"));
    return tid;
}

void LetTheLinkUp() {
    auto bringLinkUp = reinterpret_cast<decltype(&CeEmuBringLinkUp)>(ceemu_test::EmulatorSymbol("CeEmuBringLinkUp"));
    ASSERT_NE(bringLinkUp, nullptr);
    bringLinkUp();
}

// Requests are served in arrival order: once a PING sent now is answered, every
// request queued before it has had its answer, or never will.
void WaitUntilTheQueueIsServed(AgentSession &session) {
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
}

void NeverUp(nlohmann::json &device) { device["link"]["neverUp"] = true; }

}  // namespace

TEST(Queue, AbortDiscardsWaitingRequestsAndIsAnsweredOnTheCallersThread) {
    AgentSession session(NeverUp);
    uint32_t connect = BlockWorker(session);
    std::vector<uint32_t> waiting;
    for (int i = 0; i < 3; ++i) waiting.push_back(session.agent.Send(CMD_PING, 0));

    uint32_t abort = session.agent.Send(CMD_ABORT, 0, Body({{PAR_NAME, "stop"}}));
    // Answered before SE_EventHandle returned, on this thread.
    std::vector<Answer> answers = session.agent.AnswersFor(abort);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].header.command, CMD_ABORT);
    EXPECT_EQ(answers[0].header.nStatus, ST_OK);
    EXPECT_TRUE(answers[0].body.empty());
    EXPECT_EQ(answers[0].thread, std::this_thread::get_id());
    // An abort with nothing queued is answered all the same.
    uint32_t idle = session.agent.Send(CMD_ABORT, 0);
    EXPECT_EQ(session.agent.AnswersFor(idle).size(), 1u);

    LetTheLinkUp();
    ASSERT_TRUE(session.agent.WaitForFinal(connect, 10000));
    EXPECT_EQ(session.agent.AnswersFor(connect).front().header.nStatus, ST_OK);
    WaitUntilTheQueueIsServed(session);
    for (uint32_t tid : waiting) EXPECT_TRUE(session.agent.AnswersFor(tid).empty());
    std::string log = session.LogText();
    EXPECT_LT(log.find("Queue Clear"), log.find("RESPONSE ABORTED"));
}

TEST(Queue, TheHundredAndFirstWaitingRequestIsDropped) {
    AgentSession session(NeverUp);
    uint32_t connect = BlockWorker(session);
    std::vector<uint32_t> tids;
    for (int i = 0; i < 101; ++i) tids.push_back(session.agent.Send(CMD_CONNECT, 0));
    EXPECT_TRUE(session.WaitForLog("Request dropped: queue full"));

    LetTheLinkUp();
    ASSERT_TRUE(session.agent.WaitForFinal(tids[99], 60000));  // the queue has room again
    WaitUntilTheQueueIsServed(session);
    std::vector<Answer> answers = session.agent.Answers();
    ASSERT_EQ(answers.size(), 102u);  // the connect, 100 of the 101, the PING
    EXPECT_EQ(answers[0].header.tid, connect);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(answers[i + 1].header.tid, tids[i]);  // in arrival order
        EXPECT_EQ(answers[i + 1].header.nStatus, ST_OK);
    }
    EXPECT_TRUE(session.agent.AnswersFor(tids[100]).empty());
}

TEST(Queue, EndingTheSessionDuringAPendingConnectEndsTheLinkWait) {
    AgentSession session(NeverUp);
    uint32_t connect = BlockWorker(session);
    // A full queue has no room for the stop message: the worker must end all the same.
    for (int i = 0; i < 100; ++i) session.agent.Send(CMD_PING, 0);
    session.agent.UnInitialize();
    // The connect waited for the agent's 30 s, and the stop ended that wait: it was
    // answered as a failed connect; the requests queued before the stop were still
    // served, each once.
    std::string log = session.LogText();
    EXPECT_NE(log.find("WAIT FOR [30000]ms"), std::string::npos);
    EXPECT_NE(log.find("RAPI CONNECT STOPPED"), std::string::npos);
    std::vector<Answer> answers = session.agent.AnswersFor(connect);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].header.nStatus, ST_CONNECT_FAILED);
    EXPECT_EQ(answers[0].body, std::vector<uint8_t>({0x05, 8, 0, 0, 0, '7', 'F', 'F', 'F', 'F', 'F', 'F', 'F'}));
    EXPECT_EQ(session.agent.AnswerCount(), 101u);
}

TEST(Queue, RepeatedStartsAndStopsWithRequestsInFlight) {
    AgentSession session(nullptr, false);
    for (int round = 0; round < 10; ++round) {
        session.agent.Initialize(session.logs.str());
        for (int i = 0; i < 10; ++i) session.agent.Send(i % 2 ? CMD_PING : CMD_CONNECT, 0);
        if (round % 3 == 0) session.agent.Send(CMD_ABORT, 0);
        session.agent.UnInitialize();
    }
    // Every answer that went out belongs to a request that was sent, and each
    // request was answered at most once.
    std::map<uint32_t, int> perTid;
    for (const Answer &answer : session.agent.Answers()) ++perTid[answer.header.tid];
    for (const auto &[tid, count] : perTid) EXPECT_EQ(count, 1) << "tid " << tid;
}
