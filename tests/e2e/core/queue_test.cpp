// Requests queued behind a busy worker: abort, a full queue, and the end of a
// session while the worker waits for a link.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "agent_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Starts a CMD_APP_CON that keeps the worker busy (the link comes up after
// `delayMs`, or never) and returns once the worker is waiting for the link.
uint32_t BlockWorker(AgentSession &session) {
    uint32_t tid = session.agent.Send(CMD_APP_CON, 0);
    EXPECT_TRUE(session.WaitForLog("WAIT RAPI CONNECTION"));
    return tid;
}

}  // namespace

TEST(Queue, AbortDiscardsWaitingRequestsAndIsAnsweredOnTheCallersThread) {
    AgentSession session([](nlohmann::json &device) { device["link"]["delayMs"] = 1500; });
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

    ASSERT_TRUE(session.agent.WaitForFinal(connect, 10000));
    EXPECT_EQ(session.agent.AnswersFor(connect).front().header.nStatus, ST_OK);
    EXPECT_EQ(session.agent.Request(CMD_PING, 0).header.nStatus, ST_UNSUPPORTED);
    for (uint32_t tid : waiting) EXPECT_TRUE(session.agent.AnswersFor(tid).empty());
    std::string log = session.LogText();
    EXPECT_LT(log.find("Queue Clear"), log.find("RESPONSE ABORTED"));

    // An abort with nothing queued is still answered, after one empty take.
    auto start = Clock::now();
    uint32_t idle = session.agent.Send(CMD_ABORT, 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(session.agent.AnswersFor(idle).size(), 1u);
}

TEST(Queue, TheHundredAndFirstWaitingRequestIsDropped) {
    AgentSession session([](nlohmann::json &device) { device["link"]["delayMs"] = 3000; });
    uint32_t connect = BlockWorker(session);
    auto start = Clock::now();
    std::vector<uint32_t> tids;
    for (int i = 0; i < 101; ++i) tids.push_back(session.agent.Send(CMD_CONNECT, 0));
    ASSERT_LT(Clock::now() - start, std::chrono::milliseconds(2500)) << "the worker may have woken meanwhile";

    ASSERT_TRUE(session.agent.WaitForAnswers(101, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<Answer> answers = session.agent.Answers();
    ASSERT_EQ(answers.size(), 101u);
    EXPECT_EQ(answers[0].header.tid, connect);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(answers[i + 1].header.tid, tids[i]);  // in arrival order
        EXPECT_EQ(answers[i + 1].header.nStatus, ST_OK);
    }
    EXPECT_TRUE(session.agent.AnswersFor(tids[100]).empty());
}

TEST(Queue, EndingTheSessionDuringAPendingConnectReturnsPromptly) {
    AgentSession session([](nlohmann::json &device) { device["link"]["neverUp"] = true; });
    uint32_t connect = BlockWorker(session);
    // A full queue has no room for the stop message: the worker must end all the same.
    for (int i = 0; i < 100; ++i) session.agent.Send(CMD_PING, 0);
    auto start = Clock::now();
    session.agent.UnInitialize();
    // Bounded well below the 30 s the connect would otherwise wait; the 101 answers
    // and their log lines take seconds of their own on a busy machine.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(15000));
    // The connect was ended by the stop and answered as a failed connect; the
    // requests queued before the stop were still served, each once.
    std::vector<Answer> answers = session.agent.AnswersFor(connect);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].header.nStatus, ST_CONNECT_FAILED);
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
