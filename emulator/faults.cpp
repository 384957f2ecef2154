// Fault injection: device.json "faults" (or a list a test set in their place) make
// the Nth call of an operation fail. Every call that reaches the phone passes here,
// so this is also where a test's call trace is recorded.
#include "device.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace ceemu {
namespace {

struct CallRecord {
    std::map<std::string, uint32_t> counts;
    std::optional<nlohmann::json> testFaults;  // replaces device.json's list while set
    bool tracing = false;
    std::vector<std::string> trace;
};

CallRecord &Calls() {
    static CallRecord record;
    return record;
}

const nlohmann::json *ActiveFaults() {
    if (Calls().testFaults) return &*Calls().testFaults;
    const auto faults = DeviceConfig().find("faults");
    return faults == DeviceConfig().end() ? nullptr : &*faults;
}

// One entry of "faults": {"operation", "nth" (1-based, default 1), "persistent"
// (default false: only the Nth call fails), "error" (default 5), "linkDrop"
// (default false: the link falls with the call), "delayMs" (the call first waits
// that long; with no "error" it then succeeds)}.
bool FaultMatches(const nlohmann::json &fault, const std::string &operation, uint32_t call, uint32_t *error,
                  uint64_t *delayMs) {
    if (!fault.is_object() || fault.value("operation", std::string()) != operation) return false;
    const uint64_t nth = ConfigNumber(fault, "nth").value_or(1);
    const bool persistent = fault.value("persistent", false);
    if (call != nth && !(persistent && call > nth)) return false;
    if (const std::optional<uint64_t> delay = ConfigNumber(fault, "delayMs")) {
        *delayMs = std::max(*delayMs, std::min<uint64_t>(*delay, 10000));
        if (!fault.contains("error")) return false;
    }
    *error = static_cast<uint32_t>(ConfigNumber(fault, "error").value_or(CE_ERROR_ACCESS_DENIED));
    if (ConfigFlag(fault, "linkDrop")) DropLink();
    return true;
}

}  // namespace

void ResetFaultCounters() {
    std::lock_guard guard(DeviceLock());
    Calls().counts.clear();
}

namespace {

bool MatchFaults(const char *operation, uint32_t *error, uint64_t *delayMs) {
    std::lock_guard guard(DeviceLock());
    if (Calls().tracing) Calls().trace.emplace_back(operation);
    const uint32_t call = ++Calls().counts[operation];
    const nlohmann::json *faults = ActiveFaults();
    if (faults == nullptr || !faults->is_array()) return false;
    try {
        for (const auto &fault : *faults) {
            if (FaultMatches(fault, operation, call, error, delayMs)) return true;
        }
    } catch (const nlohmann::json::exception &) {
        // A hand-written entry of the wrong type injects nothing.
    }
    return false;
}

}  // namespace

bool InjectedFault(const char *operation, uint32_t *error) {
    uint64_t delayMs = 0;
    const bool failed = MatchFaults(operation, error, &delayMs);
    // (waited outside the phone's lock: a slow call holds up no other)
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    return failed;
}

bool SetTestFaults(const char *faults) {
    std::lock_guard guard(DeviceLock());
    std::optional<nlohmann::json> list;
    if (faults != nullptr) {
        list = nlohmann::json::parse(faults, nullptr, false);
        if (!list->is_array()) return false;
    }
    Calls().testFaults = std::move(list);
    Calls().counts.clear();
    return true;
}

void TraceCalls(bool record) {
    std::lock_guard guard(DeviceLock());
    Calls().tracing = record;
    Calls().trace.clear();
}

std::string TracedCalls() {
    std::lock_guard guard(DeviceLock());
    std::string names;
    for (const std::string &name : Calls().trace) names += name + '\n';
    return names;
}

}  // namespace ceemu
