// The device link: start RAPI, wait for the link to come up (or for the session's
// stop), then open the PIM volume; and the way back.
#include <cstring>

#include "core/session.h"

namespace {

constexpr HRESULT kLinkTimedOut = static_cast<HRESULT>(0x800705B4u);  // ERROR_TIMEOUT as an HRESULT
constexpr uint32_t kErrorOperationAborted = 995;

}  // namespace

HRESULT DeviceSession::ConnectDevice(uint32_t timeoutMs) {
    const platform::RapiTable &rapi = platform::Rapi();
    HRESULT result = CE_E_FAIL;
    bool linkStarted = false;
    RAPIINIT init;
    std::memset(&init, 0, sizeof init);
    init.cbSize = sizeof init;  // 12 on the 32-bit target

    LogLine(LOG_TRACE, "RAPI Initialization START");
    if (rapi.CeRapiInitEx(&init) < 0) {
        DWORD error = rapi.CeGetLastError();
        result = CE_HRESULT_FROM_WIN32(error);
        LogLine(LOG_TRACE, "CeRapiInitEx fail RAPI CONNECT ERROR[0x%x]", unsigned(error));
    } else {
        linkStarted = true;
        LogLine(LOG_TRACE, "WAIT RAPI CONNECTION");
        switch (platform::WaitForLink(init.heRapiInit, m_stop, timeoutMs)) {
        case platform::LinkWait::Signalled:
            result = init.hrRapiInit;
            LogLine(LOG_TRACE, "RAPI CONNECT SUCCESS");
            break;
        case platform::LinkWait::TimedOut:
            result = kLinkTimedOut;
            LogLine(LOG_TRACE, "RAPI CONNECT TIMEOUT[%dms]", int(timeoutMs));
            break;
        case platform::LinkWait::Stopped:
            // The session is going away: give up the wait so the worker can end.
            result = CE_HRESULT_FROM_WIN32(kErrorOperationAborted);
            LogLine(LOG_TRACE, "RAPI CONNECT STOPPED");
            break;
        case platform::LinkWait::Failed: {
            DWORD error = rapi.CeGetLastError();
            result = CE_HRESULT_FROM_WIN32(error);
            LogLine(LOG_TRACE, "RAPI CONNECT ERROR[0x%x]", unsigned(error));
            break;
        }
        }
    }
    if (linkStarted && result < 0) {
        rapi.CeRapiUninit();
        return result;
    }
    // Also reached when CeRapiInitEx refused: the open then fails on its own and
    // the failure result stands.
    if (m_pim.OpenPimVolume()) m_nPimReady = 1;
    m_pim.OpenMessageVolume(m_szSmsVolume);
    return result;
}

bool DeviceSession::DisconnectDevice() {
    platform::Rapi().CeRapiUninit();
    m_pim.ClosePimVolume();
    return true;
}
