// The phone's handle table and the buffers it hands out for CeRapiFreeBuffer.
#include "device.h"

#include <cstdlib>
#include <map>
#include <set>

namespace ceemu {
namespace {

std::map<uintptr_t, std::unique_ptr<HandleObject>> &Handles() {
    static std::map<uintptr_t, std::unique_ptr<HandleObject>> handles;
    return handles;
}

std::set<void *> &Buffers() {
    static std::set<void *> buffers;
    return buffers;
}

// Handle values cycle through a wide range, so a stale handle rarely names a new object.
uintptr_t NextHandleValue() {
    static uintptr_t next = 0x1000;
    do {
        next = next >= 0x0FFFFFF0 ? 0x1000 : next + 4;
    } while (Handles().count(next) != 0);
    return next;
}

}  // namespace

HANDLE AddHandle(std::unique_ptr<HandleObject> object) {
    std::lock_guard guard(DeviceLock());
    const uintptr_t value = NextHandleValue();
    Handles()[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

HandleObject *LookUpHandle(HANDLE handle) {
    std::lock_guard guard(DeviceLock());
    const auto found = Handles().find(reinterpret_cast<uintptr_t>(handle));
    return found == Handles().end() ? nullptr : found->second.get();
}

bool RemoveHandle(HANDLE handle) {
    std::lock_guard guard(DeviceLock());
    return Handles().erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void CloseAllHandles() {
    std::lock_guard guard(DeviceLock());
    Handles().clear();
}

std::vector<HandleObject *> AllHandles() {
    std::lock_guard guard(DeviceLock());
    std::vector<HandleObject *> all;
    for (auto &[value, object] : Handles()) all.push_back(object.get());
    return all;
}

void *AllocateBuffer(size_t bytes) {
    std::lock_guard guard(DeviceLock());
    void *buffer = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (buffer == nullptr) Fail(kErrorOutOfMemory);
    Buffers().insert(buffer);
    return buffer;
}

bool FreeBuffer(void *buffer) {
    std::lock_guard guard(DeviceLock());
    if (Buffers().erase(buffer) == 0) return false;
    std::free(buffer);
    return true;
}

}  // namespace ceemu
