// The agent side of the plug-in protocol: loads the plug-in by path, drives it
// only through its four exports, and collects answers per transaction (tid).
#ifndef CEBRIDGE_HOST_AGENT_CLIENT_H
#define CEBRIDGE_HOST_AGENT_CLIENT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cebridge/agent.h"
#include "outcome.h"

namespace host {

// One parameter of a request or answer body.
struct Parameter {
    uint8_t code = 0;
    std::string value;
};

std::vector<uint8_t> EncodeParameters(const std::vector<Parameter> &parameters);
// Splits a body into parameters; stops at a malformed one (never reads past the end).
std::vector<Parameter> DecodeParameters(const uint8_t *body, size_t length);

// Whether the library at `path` loads (it is unloaded again); a failure (kNoConnection)
// carries the loader's message.
Outcome ProbeLibrary(const std::string &path);

struct Request {
    uint16_t command = 0;
    uint16_t subCommand = 0;
    std::vector<Parameter> parameters;
};

struct Answer {
    uint16_t command = 0;
    uint16_t subCommand = 0;
    uint32_t status = 0;
    uint32_t tid = 0;
    std::vector<Parameter> parameters;
    bool received = false;  // false: no answer came in time, or the wait was interrupted

    // The value of the first parameter with `code`, or "".
    std::string Value(uint8_t code) const;
    // The first parameter with `code` in place (no copy), or null.
    const std::string *Find(uint8_t code) const;
};

// Called for each ST_CONTINUE packet of a transaction, with its PAR_LENGTH figure.
using ProgressFn = std::function<void(uint64_t bytes)>;

class AgentClient {
public:
    AgentClient() = default;
    ~AgentClient();
    AgentClient(const AgentClient &) = delete;
    AgentClient &operator=(const AgentClient &) = delete;

    // Loads the plug-in and starts a session (kNoConnection when it cannot).
    Outcome Open(const std::string &pluginPath, const std::string &logDirectory);
    void Close();

    // Whether the plug-in shows it is still at work on a request (its log grew): a
    // wait past the idle time-out goes on while it does. Unset: the time-out decides.
    std::function<bool()> working;

    // Sends one request and waits for its final answer. `idleTimeout` bounds the wait
    // between two packets of the transaction (progress restarts it). `interrupted`
    // is polled while waiting: when it turns true, CMD_ABORT is sent and the wait ends.
    Answer Exchange(const Request &request, std::chrono::milliseconds idleTimeout, const ProgressFn &progress = {},
                    const std::atomic<bool> *interrupted = nullptr);

    // Exchange in two halves, for a request sent while an earlier one is still under
    // way (the plug-in serves requests one at a time, in arrival order): Send returns
    // the request's tid, Await waits for that tid's final answer as Exchange does.
    uint32_t Send(const Request &request);
    Answer Await(uint32_t tid, std::chrono::milliseconds idleTimeout, const ProgressFn &progress = {},
                 const std::atomic<bool> *interrupted = nullptr);
    // Forgets the packets that came for `tid` (a request no longer waited for).
    void DropAnswersFor(uint32_t tid);

    // Sends CMD_ABORT; its answer comes back before this returns.
    Answer Abort();

    // Each request and answer (command, status, body length), for --verbose.
    std::function<void(const char *direction, const AgentPacket &packet)> trace;

private:
    static int32_t CEBRIDGE_CALL Callback(uint32_t event, AgentPacket *packet, uint32_t reserved);
    void Accept(const AgentPacket &packet);
    bool TakeFor(uint32_t tid, Answer *answer, std::chrono::milliseconds wait);
    void WatchForArrival(uint32_t seen) const;

    void *m_library = nullptr;
    SE_InitializeFn m_initialize = nullptr;
    SE_EventHandleFn m_eventHandle = nullptr;
    SE_ReleaseMemoryFn m_releaseMemory = nullptr;
    SE_UnInitializeFn m_uninitialize = nullptr;
    bool m_sessionOpen = false;
    uint32_t m_nextTid = 1;

    static constexpr std::chrono::milliseconds kProgressWake{50};

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Answer> m_answers;
    // Packets taken in so far; a waiter watches it for a moment before it sleeps.
    std::atomic<uint32_t> m_arrivals{0};
    std::chrono::steady_clock::time_point m_lastWake;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_AGENT_CLIENT_H
