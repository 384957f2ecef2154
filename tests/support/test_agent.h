// A small agent for end-to-end tests: loads the built plug-in by path, drives its
// four exports and collects every answer the plug-in hands over.
//
//   TestAgent agent;
//   agent.Initialize(logDir.path().string());
//   Answer a = agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "x-obex/folder-listing"}}));
//   EXPECT_EQ(a.header.nStatus, ST_OK);
//   std::string xml = XmlText(a);
//
// Every answer the agent accepts is copied and then given back at once through
// SE_ReleaseMemory, as a well-behaved agent does. Only one TestAgent may be
// initialised at a time: the plug-in has one process-wide callback.
//
// The agent counts answers itself: a final answer beyond one per request sent with
// that tid is a test failure, in every build (a Release plug-in has no check of its
// own), naming the command. A request left unanswered shows as Request's time-out.
#ifndef CEBRIDGE_TESTS_TEST_AGENT_H
#define CEBRIDGE_TESTS_TEST_AGENT_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cebridge/agent.h"

// The agent's names for the phone's data sets.
inline constexpr char kPackages[] = "WG-REGISTRY";
inline constexpr char kContacts[] = "phonebook/private";
inline constexpr char kSchedule[] = "schedule";
inline constexpr char kCalls[] = "callhistory";
inline constexpr char kReceived[] = "smsdata/recv";
inline constexpr char kSent[] = "smsdata/send";

// One answer as the agent saw it: the record (its pBody points nowhere once the
// packet was released), the body bytes, the event code and the calling thread.
struct Answer {
    AgentPacket header{};
    std::vector<uint8_t> body;
    uint32_t event = 0;
    std::thread::id thread;
};

// One body parameter: a code and its value, given as text or as raw bytes.
struct BodyParam {
    BodyParam(uint8_t code, std::string_view text) : code(code), value(text.begin(), text.end()) {}
    BodyParam(uint8_t code, std::vector<uint8_t> bytes) : code(code), value(std::move(bytes)) {}
    uint8_t code;
    std::vector<uint8_t> value;
};

// Encodes parameters as the agent does: code byte, u32 little-endian length, value.
std::vector<uint8_t> Body(std::initializer_list<BodyParam> params);
std::vector<uint8_t> Body(const std::vector<BodyParam> &params);
// The value of the first parameter with `code` as text ("" when absent).
std::string ParamText(const Answer &answer, uint8_t code);
// The PAR_XMLBODY text of an answer ("" when it has none).
std::string XmlText(const Answer &answer);

class TestAgent {
public:
    // Loads CEBRIDGE_TEST_PLUGIN (or `pluginPath`); a failure is a test failure.
    TestAgent();
    explicit TestAgent(const std::string &pluginPath);
    ~TestAgent();  // UnInitialize (when still initialised) and unload
    TestAgent(const TestAgent &) = delete;
    TestAgent &operator=(const TestAgent &) = delete;

    bool Loaded() const { return m_library != nullptr; }

    // SE_Initialize with this agent's callback.
    int32_t Initialize(const std::string &logDir, const std::string &baseName = "cebridge");
    // SE_UnInitialize; each call ends one session.
    int32_t UnInitialize();

    // Builds a request (version 1.00, the given codes, a copy of `body`) and hands it
    // to SE_EventHandle with EVT_AGENT_TO_DLL. tid 0 picks the next unused number.
    // Returns the tid used.
    uint32_t Send(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body = {}, uint32_t tid = 0,
                  uint32_t uid = 1);
    // Hands a prepared record to SE_EventHandle as it stands (pBody and nBodyLength
    // as the caller set them); returns what SE_EventHandle returned.
    int32_t SendPacket(uint32_t event, AgentPacket *packet);

    // Sends and waits for the final answer of that tid (the first whose status is
    // not ST_CONTINUE). On time-out: a test failure and an answer with status ~0u.
    Answer Request(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body = {},
                   uint32_t timeoutMs = 60000);
    // Waits until `tid` has a final answer; false on time-out.
    bool WaitForFinal(uint32_t tid, uint32_t timeoutMs);

    std::vector<Answer> Answers() const;
    std::vector<Answer> AnswersFor(uint32_t tid) const;
    size_t AnswerCount() const;
    void ClearAnswers();

    // false: the callback returns 0 and so refuses every answer (the plug-in must
    // free them); refused answers are still recorded.
    void SetAcceptAnswers(bool accept);

    // The exports themselves, for tests that call them directly.
    SE_InitializeFn seInitialize = nullptr;
    SE_EventHandleFn seEventHandle = nullptr;
    SE_ReleaseMemoryFn seReleaseMemory = nullptr;
    SE_UnInitializeFn seUnInitialize = nullptr;

private:
    static int32_t CEBRIDGE_CALL Callback(uint32_t event, AgentPacket *packet, uint32_t reserved);
    int32_t OnAnswer(uint32_t event, AgentPacket *packet);
    bool HasFinal(uint32_t tid) const;  // with m_mutex held

    void *m_library = nullptr;
    int m_sessions = 0;
    uint32_t m_nextTid = 1;
    std::atomic<bool> m_accept{true};
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Answer> m_answers;
    // What the waiters wait for, so that a transfer's thousands of progress answers
    // neither wake them nor make them search every answer again.
    std::set<uint32_t> m_finalTids;
    // Requests sent and final answers seen per tid, kept across ClearAnswers.
    std::map<uint32_t, uint32_t> m_requestsSent;
    std::map<uint32_t, uint32_t> m_finalsSeen;
};

#endif  // CEBRIDGE_TESTS_TEST_AGENT_H
