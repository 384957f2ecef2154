#include "support/test_agent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The plug-in keeps one callback for the process, so one agent receives at a time.
std::atomic<TestAgent *> g_currentAgent{nullptr};

void *LoadLibraryAt(const std::string &path) {
#if defined(_WIN32)
    return reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

std::string LastLoadError() {
#if defined(_WIN32)
    return "error " + std::to_string(GetLastError());
#else
    const char *text = dlerror();
    return text ? text : "unknown";
#endif
}

void UnloadLibrary(void *library) {
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

template <typename Fn>
Fn Resolve(void *library, const char *name) {
#if defined(_WIN32)
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(library), name)));
#else
    return reinterpret_cast<Fn>(dlsym(library, name));
#endif
}

void AppendU32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t ReadU32(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool IsFinal(const Answer &answer) { return answer.header.nStatus != ST_CONTINUE; }

}  // namespace

// ---- bodies -------------------------------------------------------------------------

std::vector<uint8_t> Body(const std::vector<BodyParam> &params) {
    std::vector<uint8_t> out;
    for (const BodyParam &param : params) {
        out.push_back(param.code);
        AppendU32(out, static_cast<uint32_t>(param.value.size()));
        out.insert(out.end(), param.value.begin(), param.value.end());
    }
    return out;
}

std::vector<uint8_t> Body(std::initializer_list<BodyParam> params) { return Body(std::vector<BodyParam>(params)); }

// Decodes a well-formed body; stops at the first parameter that overruns it.
static std::vector<BodyParam> ParseBody(const std::vector<uint8_t> &body) {
    std::vector<BodyParam> params;
    size_t at = 0;
    while (body.size() - at >= AGENT_PARAM_HEADER_SIZE) {
        uint8_t code = body[at];
        uint32_t length = ReadU32(&body[at + 1]);
        at += AGENT_PARAM_HEADER_SIZE;
        if (length > body.size() - at) break;
        params.emplace_back(code, std::vector<uint8_t>(body.begin() + at, body.begin() + at + length));
        at += length;
    }
    return params;
}

std::string ParamText(const Answer &answer, uint8_t code) {
    for (const BodyParam &param : ParseBody(answer.body)) {
        if (param.code == code) return std::string(param.value.begin(), param.value.end());
    }
    return "";
}

std::string XmlText(const Answer &answer) { return ParamText(answer, PAR_XMLBODY); }

// ---- the agent --------------------------------------------------------------------------

TestAgent::TestAgent() : TestAgent(CEBRIDGE_TEST_PLUGIN) {}

TestAgent::TestAgent(const std::string &pluginPath) {
    m_library = LoadLibraryAt(pluginPath);
    if (!m_library) {
        ADD_FAILURE() << "cannot load " << pluginPath << ": " << LastLoadError();
        return;
    }
    seInitialize = Resolve<SE_InitializeFn>(m_library, "SE_Initialize");
    seEventHandle = Resolve<SE_EventHandleFn>(m_library, "SE_EventHandle");
    seReleaseMemory = Resolve<SE_ReleaseMemoryFn>(m_library, "SE_ReleaseMemory");
    seUnInitialize = Resolve<SE_UnInitializeFn>(m_library, "SE_UnInitialize");
    if (!seInitialize || !seEventHandle || !seReleaseMemory || !seUnInitialize) {
        ADD_FAILURE() << pluginPath << " lacks one of the four SE_ exports";
        UnloadLibrary(m_library);
        m_library = nullptr;
    }
}

TestAgent::~TestAgent() {
    while (m_sessions > 0) UnInitialize();
    TestAgent *self = this;
    g_currentAgent.compare_exchange_strong(self, nullptr);
    if (m_library) UnloadLibrary(m_library);
}

int32_t TestAgent::Initialize(const std::string &logDir, const std::string &baseName) {
    if (!m_library) return -1;
    g_currentAgent.store(this);
    ++m_sessions;
    return seInitialize(&TestAgent::Callback, 0, 0, 0, logDir.c_str(), baseName.c_str());
}

int32_t TestAgent::UnInitialize() {
    if (!m_library) return -1;
    if (m_sessions > 0) --m_sessions;
    return seUnInitialize();
}

int32_t CEBRIDGE_CALL TestAgent::Callback(uint32_t event, AgentPacket *packet, uint32_t) {
    TestAgent *agent = g_currentAgent.load();
    if (!agent) {
        ADD_FAILURE() << "an answer arrived with no agent listening";
        return 0;
    }
    return agent->OnAnswer(event, packet);
}

int32_t TestAgent::OnAnswer(uint32_t event, AgentPacket *packet) {
    Answer answer;
    answer.event = event;
    answer.thread = std::this_thread::get_id();
    if (packet) {
        answer.header = *packet;
        if (packet->pBody && packet->nBodyLength > 0)
            answer.body.assign(packet->pBody, packet->pBody + packet->nBodyLength);
    }
    bool accept = m_accept.load();
    // A taken packet goes back at once; a refused one is the plug-in's to free.
    if (accept && packet) seReleaseMemory(packet);
    const bool final = IsFinal(answer);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (final) {
            m_finalTids.insert(answer.header.tid);
            if (++m_finalsSeen[answer.header.tid] > m_requestsSent[answer.header.tid])
                ADD_FAILURE() << "a second final answer (status 0x" << std::hex << answer.header.nStatus
                              << ") to command 0x" << answer.header.command << " sub 0x" << answer.header.subCommand
                              << std::dec << " tid " << answer.header.tid;
        }
        m_answers.push_back(std::move(answer));
    }
    if (final) m_arrived.notify_all();
    return accept ? 1 : 0;
}

uint32_t TestAgent::Send(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body, uint32_t tid,
                         uint32_t uid) {
    if (tid == 0) tid = m_nextTid++;
    AgentPacket packet;
    std::memset(&packet, 0, sizeof packet);
    packet.versionMajor = 1;
    packet.command = command;
    packet.subCommand = subCommand;
    packet.tid = tid;
    packet.uid = uid;
    // The agent's own body block, sized exactly, so a read past it is caught.
    uint8_t *bodyCopy = nullptr;
    if (!body.empty()) {
        bodyCopy = static_cast<uint8_t *>(std::malloc(body.size()));
        std::memcpy(bodyCopy, body.data(), body.size());
    }
    packet.pBody = bodyCopy;
    packet.nBodyLength = static_cast<uint32_t>(body.size());
    SendPacket(EVT_AGENT_TO_DLL, &packet);
    std::free(bodyCopy);
    return tid;
}

int32_t TestAgent::SendPacket(uint32_t event, AgentPacket *packet) {
    if (!m_library) return -1;
    if (event == EVT_AGENT_TO_DLL && packet) {
        // Counted first: an abort is answered before SE_EventHandle returns.
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_requestsSent[packet->tid];
    }
    return seEventHandle(event, packet);
}

Answer TestAgent::Request(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body, uint32_t timeoutMs) {
    uint32_t tid = Send(command, subCommand, body);
    if (WaitForFinal(tid, timeoutMs)) {
        for (const Answer &answer : AnswersFor(tid))
            if (IsFinal(answer)) return answer;
    }
    ADD_FAILURE() << "no final answer to command 0x" << std::hex << command << " tid " << std::dec << tid << " within "
                  << timeoutMs << " ms";
    Answer none;
    none.header.tid = tid;
    none.header.nStatus = ~0u;
    return none;
}

bool TestAgent::HasFinal(uint32_t tid) const { return m_finalTids.count(tid) != 0; }

bool TestAgent::WaitForFinal(uint32_t tid, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return HasFinal(tid); });
}

std::vector<Answer> TestAgent::Answers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answers;
}

std::vector<Answer> TestAgent::AnswersFor(uint32_t tid) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Answer> result;
    for (const Answer &answer : m_answers)
        if (answer.header.tid == tid) result.push_back(answer);
    return result;
}

size_t TestAgent::AnswerCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answers.size();
}

void TestAgent::ClearAnswers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.clear();
    m_finalTids.clear();
}

void TestAgent::SetAcceptAnswers(bool accept) { m_accept.store(accept); }
