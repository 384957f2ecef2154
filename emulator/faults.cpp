// Fault injection: device.json "faults" make the Nth call of an operation fail.
#include "device.h"

#include <map>

namespace ceemu {
namespace {

std::map<std::string, uint32_t> &CallCounts() {
    static std::map<std::string, uint32_t> counts;
    return counts;
}

// One entry of "faults": {"operation", "nth" (1-based, default 1), "persistent"
// (default false: only the Nth call fails), "error" (default 5), "linkDrop"
// (default false: the link falls with the call)}.
bool FaultMatches(const nlohmann::json &fault, const std::string &operation, uint32_t call, uint32_t *error) {
    if (!fault.is_object() || fault.value("operation", std::string()) != operation) return false;
    const uint64_t nth = ConfigNumber(fault, "nth").value_or(1);
    const bool persistent = fault.value("persistent", false);
    if (call != nth && !(persistent && call > nth)) return false;
    *error = static_cast<uint32_t>(ConfigNumber(fault, "error").value_or(CE_ERROR_ACCESS_DENIED));
    if (ConfigFlag(fault, "linkDrop")) DropLink();
    return true;
}

}  // namespace

void ResetFaultCounters() {
    std::lock_guard guard(DeviceLock());
    CallCounts().clear();
}

bool InjectedFault(const char *operation, uint32_t *error) {
    std::lock_guard guard(DeviceLock());
    const uint32_t call = ++CallCounts()[operation];
    const auto faults = DeviceConfig().find("faults");
    if (faults == DeviceConfig().end() || !faults->is_array()) return false;
    try {
        for (const auto &fault : *faults) {
            if (FaultMatches(fault, operation, call, error)) return true;
        }
    } catch (const nlohmann::json::exception &) {
        // A hand-written entry of the wrong type injects nothing.
    }
    return false;
}

}  // namespace ceemu
