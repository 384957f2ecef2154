#include "agent_client.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <windows.h>

#include "encoding.h"
#else
#include <dlfcn.h>
#endif

namespace host {
namespace {

// The plug-in's callback carries no context, so one client serves the process.
AgentClient *g_client = nullptr;

void PutU32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t GetU32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

Outcome NotLoaded(const std::string &why) { return Outcome::Failed(0, why, ErrorKind::kNoConnection); }

// The loaded library in *library, or the loader's reason.
Outcome LoadLibraryAt(const std::string &path, void **library) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryW(WideFromUtf8(path).c_str());
    *library = reinterpret_cast<void *>(module);
    if (!module) return NotLoaded("cannot load " + path + " (error " + std::to_string(GetLastError()) + ")");
#else
    *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!*library) return NotLoaded(dlerror());
#endif
    return Outcome::Ok();
}

void *Symbol(void *library, const char *name) {
#if defined(_WIN32)
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

void UnloadLibrary(void *library) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

}  // namespace

Outcome ProbeLibrary(const std::string &path) {
    void *library = nullptr;
    Outcome loaded = LoadLibraryAt(path, &library);
    if (library) UnloadLibrary(library);
    return loaded;
}

std::vector<uint8_t> EncodeParameters(const std::vector<Parameter> &parameters) {
    std::vector<uint8_t> body;
    for (const Parameter &parameter : parameters) {
        body.push_back(parameter.code);
        PutU32(body, static_cast<uint32_t>(parameter.value.size()));
        body.insert(body.end(), parameter.value.begin(), parameter.value.end());
    }
    return body;
}

std::vector<Parameter> DecodeParameters(const uint8_t *body, size_t length) {
    std::vector<Parameter> parameters;
    size_t offset = 0;
    while (body && offset + AGENT_PARAM_HEADER_SIZE <= length && body[offset] != 0) {
        uint32_t valueLength = GetU32(body + offset + 1);
        size_t valueStart = offset + AGENT_PARAM_HEADER_SIZE;
        if (valueLength > length - valueStart) break;
        parameters.push_back(
            {body[offset], std::string(reinterpret_cast<const char *>(body + valueStart), valueLength)});
        offset = valueStart + valueLength;
    }
    return parameters;
}

const std::string *Answer::Find(uint8_t code) const {
    for (const Parameter &parameter : parameters)
        if (parameter.code == code) return &parameter.value;
    return nullptr;
}

std::string Answer::Value(uint8_t code) const {
    const std::string *value = Find(code);
    return value ? *value : std::string();
}

AgentClient::~AgentClient() { Close(); }

Outcome AgentClient::Open(const std::string &pluginPath, const std::string &logDirectory) {
    if (g_client && g_client != this) return NotLoaded("another plug-in session is open in this process");
    if (Outcome loaded = LoadLibraryAt(pluginPath, &m_library); !loaded.ok) return loaded;
    m_initialize = reinterpret_cast<SE_InitializeFn>(Symbol(m_library, "SE_Initialize"));
    m_eventHandle = reinterpret_cast<SE_EventHandleFn>(Symbol(m_library, "SE_EventHandle"));
    m_releaseMemory = reinterpret_cast<SE_ReleaseMemoryFn>(Symbol(m_library, "SE_ReleaseMemory"));
    m_uninitialize = reinterpret_cast<SE_UnInitializeFn>(Symbol(m_library, "SE_UnInitialize"));
    if (!m_initialize || !m_eventHandle || !m_releaseMemory || !m_uninitialize) {
        UnloadLibrary(m_library);
        m_library = nullptr;
        return NotLoaded(pluginPath + " does not export the four SE_ functions");
    }
    g_client = this;
    m_initialize(&AgentClient::Callback, 0, 0, 0, logDirectory.c_str(), "cebridge");
    m_sessionOpen = true;
    return Outcome::Ok();
}

void AgentClient::Close() {
    if (m_sessionOpen) {
        m_uninitialize();
        m_sessionOpen = false;
    }
    if (m_library) {
        UnloadLibrary(m_library);
        m_library = nullptr;
    }
    if (g_client == this) g_client = nullptr;
}

int32_t CEBRIDGE_CALL AgentClient::Callback(uint32_t event, AgentPacket *packet, uint32_t) {
    AgentClient *client = g_client;
    if (!client || !packet || event != EVT_DLL_TO_AGENT) return 0;
    client->Accept(*packet);
    // Taken; handed straight back so the plug-in frees it with its own allocator.
    client->m_releaseMemory(packet);
    return 1;
}

void AgentClient::Accept(const AgentPacket &packet) {
    if (trace) trace("<-", packet);
    Answer answer;
    answer.command = packet.command;
    answer.subCommand = packet.subCommand;
    answer.status = packet.nStatus;
    answer.tid = packet.tid;
    answer.parameters = DecodeParameters(packet.pBody, packet.pBody ? packet.nBodyLength : 0);
    answer.received = true;
    const bool final = answer.status != ST_CONTINUE;
    bool wake = final;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(std::move(answer));
        m_arrivals.fetch_add(1, std::memory_order_release);
        // Progress wakes the waiter at most once per kProgressWake: a big file sends
        // thousands of progress packets, and the waiter takes those queued on each wake
        // (it wakes on its own at least that often).
        const auto now = std::chrono::steady_clock::now();
        if (!final && now - m_lastWake >= kProgressWake) wake = true;
        if (wake) m_lastWake = now;
    }
    if (wake) m_arrived.notify_all();
}

uint32_t AgentClient::Send(const Request &request) {
    std::vector<uint8_t> body = EncodeParameters(request.parameters);
    AgentPacket packet;
    std::memset(&packet, 0, sizeof packet);
    packet.versionMajor = 1;
    packet.tid = m_nextTid++;
    packet.uid = 1;
    packet.command = request.command;
    packet.subCommand = request.subCommand;
    packet.nBodyLength = static_cast<uint32_t>(body.size());
    packet.pBody = body.empty() ? nullptr : body.data();
    if (trace) trace("->", packet);
    m_eventHandle(EVT_AGENT_TO_DLL, &packet);  // the plug-in copies the packet and body
    return packet.tid;
}

namespace {

// How long a waiter watches for the next packet before it sleeps. A small file's answer
// mostly comes within it, and a waiter that slept instead costs the plug-in's worker a
// wake-up call and each thread a context switch: a fifth of a small file's time on a
// virtual machine. With a single core the watch would only hold the worker up.
std::chrono::microseconds ArrivalWatch() {
    static const bool manyCores = std::thread::hardware_concurrency() > 1;
    return std::chrono::microseconds(manyCores ? 250 : 0);
}

}  // namespace

void AgentClient::WatchForArrival(uint32_t seen) const {
    const auto until = std::chrono::steady_clock::now() + ArrivalWatch();
    while (m_arrivals.load(std::memory_order_acquire) == seen && std::chrono::steady_clock::now() < until) {
    }
}

bool AgentClient::TakeFor(uint32_t tid, Answer *answer, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto found = [&] {
        for (auto it = m_answers.begin(); it != m_answers.end(); ++it) {
            if (it->tid != tid) continue;
            *answer = std::move(*it);
            m_answers.erase(it);
            return true;
        }
        return false;
    };
    if (found()) return true;
    const uint32_t seen = m_arrivals.load(std::memory_order_relaxed);
    lock.unlock();
    WatchForArrival(seen);
    lock.lock();
    return m_arrived.wait_for(lock, wait, found);
}

Answer AgentClient::Exchange(const Request &request, std::chrono::milliseconds idleTimeout, const ProgressFn &progress,
                             const std::atomic<bool> *interrupted) {
    return Await(Send(request), idleTimeout, progress, interrupted);
}

Answer AgentClient::Await(uint32_t tid, std::chrono::milliseconds idleTimeout, const ProgressFn &progress,
                          const std::atomic<bool> *interrupted) {
    const auto slice = kProgressWake;
    auto lastActivity = std::chrono::steady_clock::now();
    for (;;) {
        if (interrupted && interrupted->load()) {
            Abort();
            DropAnswersFor(tid);
            return Answer{};
        }
        Answer answer;
        if (TakeFor(tid, &answer, slice)) {
            if (answer.status != ST_CONTINUE) return answer;
            lastActivity = std::chrono::steady_clock::now();
            if (progress) progress(std::strtoull(answer.Value(PAR_LENGTH).c_str(), nullptr, 10));
            continue;
        }
        if (std::chrono::steady_clock::now() - lastActivity <= idleTimeout) continue;
        if (!working || !working()) return Answer{};
        lastActivity = std::chrono::steady_clock::now();  // slow, not gone: a large phone, a log on disk
    }
}

void AgentClient::DropAnswersFor(uint32_t tid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_answers, [tid](const Answer &answer) { return answer.tid == tid; });
}

Answer AgentClient::Abort() {
    Request abort;
    abort.command = CMD_ABORT;
    const uint32_t tid = Send(abort);
    Answer answer;
    TakeFor(tid, &answer, std::chrono::milliseconds(5000));
    return answer;
}

}  // namespace host
