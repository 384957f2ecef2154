// The link: CeRapiInitEx starts an attempt that finishes after "link.delayMs"; the
// caller waits on a descriptor (POSIX, a timer descriptor) or event (Win32, a
// waitable timer) that the attempt signals. No thread is involved, so nothing is
// left running at CeRapiUninit or when the library is unloaded.
#include "device.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace ceemu {
namespace {

// Returned by every call that finds no link standing (and by CeRapiGetError after it).
constexpr HRESULT kLinkDown = CE_HRESULT_FROM_WIN32(kErrorDeviceNotConnected);
constexpr HRESULT kInvalidArgument = CE_HRESULT_FROM_WIN32(CE_ERROR_INVALID_PARAMETER);

thread_local uint32_t t_deviceError = 0;
thread_local HRESULT t_linkError = 0;

#if defined(_WIN32)
using Descriptor = HANDLE;
void CloseDescriptor(Descriptor descriptor) { ::CloseHandle(descriptor); }

void Arm(Descriptor timer, uint64_t delayMs) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(delayMs == 0 ? 1 : delayMs * 10000);  // relative, 100-ns units
    ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}
Descriptor SignalAfter(std::optional<uint64_t> delayMs) {
    HANDLE timer = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    if (timer != nullptr && delayMs) Arm(timer, *delayMs);
    return timer;
}
HANDLE AsHandle(Descriptor descriptor) { return descriptor; }
bool Valid(Descriptor descriptor) { return descriptor != nullptr; }
bool Signalled(Descriptor descriptor) { return ::WaitForSingleObject(descriptor, 0) == WAIT_OBJECT_0; }
#else
using Descriptor = int;
void CloseDescriptor(Descriptor descriptor) { ::close(descriptor); }

void Arm(Descriptor fd, uint64_t delayMs) {
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(delayMs / 1000);
    when.it_value.tv_nsec = static_cast<long>((delayMs % 1000) * 1000000);
    if (delayMs == 0) when.it_value.tv_nsec = 1;  // a zero value would disarm the timer
    ::timerfd_settime(fd, 0, &when, nullptr);
}
// Readable (POLLIN) once the delay has passed; never readable without a delay.
Descriptor SignalAfter(std::optional<uint64_t> delayMs) {
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd >= 0 && delayMs) Arm(fd, *delayMs);
    return fd;
}
HANDLE AsHandle(Descriptor descriptor) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(descriptor)); }
bool Valid(Descriptor descriptor) { return descriptor >= 0; }
bool Signalled(Descriptor descriptor) {
    pollfd ready{descriptor, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0;
}
#endif

// The link stands once the latest attempt's descriptor is signalled, so the caller
// and the phone never disagree about when it came up.
struct LinkState {
    bool started = false;
    bool dropped = false;
    // The latest attempt's descriptor was found signalled: a signalled descriptor stays
    // so, and every call asks, so it is looked at once rather than polled per call.
    bool up = false;
    HRESULT result = 0;
    // Every descriptor handed out since the last CeRapiUninit: a second CeRapiInitEx
    // starts again without taking the first one away from a caller still waiting on it.
    std::vector<Descriptor> descriptors;

    ~LinkState() { CloseDescriptors(); }
    void CloseDescriptors() {
        for (Descriptor descriptor : descriptors) CloseDescriptor(descriptor);
        descriptors.clear();
    }
};

LinkState &Link() {
    static LinkState link;
    return link;
}

const nlohmann::json &LinkConfig() {
    static const nlohmann::json empty = nlohmann::json::object();
    const auto found = DeviceConfig().find("link");
    return found != DeviceConfig().end() && found->is_object() ? *found : empty;
}

// "initRefused": true refuses with error 1167; a number refuses with that error.
std::optional<uint32_t> RefusalError() {
    const nlohmann::json &link = LinkConfig();
    if (!ConfigFlag(link, "initRefused")) return std::nullopt;
    const auto code = ConfigNumber(link, "initRefused");
    return code && *code > 1 ? static_cast<uint32_t>(*code) : kErrorDeviceNotConnected;
}

}  // namespace

void SetDeviceError(uint32_t code) { t_deviceError = code; }
uint32_t DeviceErrorCode() { return t_deviceError; }
void SetLinkError(HRESULT error) { t_linkError = error; }
HRESULT LinkError() { return t_linkError; }

bool LinkUp() {
    std::lock_guard guard(DeviceLock());
    LinkState &link = Link();
    if (!link.started || link.dropped || link.result < 0) return false;
    if (!link.up) link.up = Signalled(link.descriptors.back());
    return link.up;
}

HRESULT LinkDownError() { return kLinkDown; }

void BringLinkUp() {
    std::lock_guard guard(DeviceLock());
    for (Descriptor descriptor : Link().descriptors) Arm(descriptor, 0);
}

void DropLink() {
    std::lock_guard guard(DeviceLock());
    Link().dropped = true;
}

HRESULT StartLink(RAPIINIT *init) {
    if (init == nullptr) return kInvalidArgument;
    if (std::optional<ImageFault> fault = LoadImage()) {
        // The phone's own screen, as it were: the agent only sees the refusal.
        std::fprintf(stderr, "ceemu: %s\n", fault->reason.c_str());
        SetDeviceError(fault->code);
        return CE_HRESULT_FROM_WIN32(fault->code);
    }
    std::optional<uint32_t> refused = RefusalError();
    uint32_t injected = 0;
    if (!refused && InjectedFault("CeRapiInitEx", &injected)) refused = injected;
    if (refused) {
        SetDeviceError(*refused);
        return CE_HRESULT_FROM_WIN32(*refused);
    }
    const nlohmann::json &config = LinkConfig();
    const bool neverUp = ConfigFlag(config, "neverUp");
    const uint64_t delayMs = ConfigNumber(config, "delayMs").value_or(0);
    const Descriptor descriptor = SignalAfter(neverUp ? std::nullopt : std::optional<uint64_t>(delayMs));
    if (!Valid(descriptor)) {
        SetDeviceError(kErrorOutOfMemory);
        return CE_HRESULT_FROM_WIN32(kErrorOutOfMemory);
    }
    LinkState &link = Link();
    link.descriptors.push_back(descriptor);
    link.started = true;
    link.dropped = false;
    link.up = false;
    link.result = static_cast<HRESULT>(ConfigNumber(config, "result").value_or(0));
    init->heRapiInit = AsHandle(descriptor);
    init->hrRapiInit = link.result;
    SetDeviceError(CE_ERROR_SUCCESS);
    return 0;
}

void EndLink() {
    LinkState &link = Link();
    link.started = false;
    link.up = false;
    link.CloseDescriptors();
    CloseAllHandles();
    EndTobrannLink();
}

}  // namespace ceemu
