#include "outcome.h"

#include <exception>

namespace host {

const char *ErrorKindName(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::kNone: return "none";
    case ErrorKind::kPhoneRefused: return "phoneRefused";
    case ErrorKind::kNotFound: return "notFound";
    case ErrorKind::kNotAFolder: return "notAFolder";
    case ErrorKind::kNoRoomOnPhone: return "noRoomOnPhone";
    case ErrorKind::kNoRoomOnPc: return "noRoomOnPc";
    case ErrorKind::kInterrupted: return "interrupted";
    case ErrorKind::kPcFile: return "pcFile";
    case ErrorKind::kBadInput: return "badInput";
    case ErrorKind::kBusy: return "busy";
    case ErrorKind::kNoConnection: return "noConnection";
    case ErrorKind::kServer: return "server";
    case ErrorKind::kChanged: return "changed";
    case ErrorKind::kOtherPhone: return "otherPhone";
    case ErrorKind::kInternal: return "internal";
    }
    return "phoneRefused";
}

Outcome CaughtAsInternal(const std::function<Outcome()> &run) {
    try {
        return run();
    } catch (const std::exception &fault) {
        return Outcome::Failed(0, std::string("internal fault: ") + fault.what(), ErrorKind::kInternal);
    } catch (...) {
        return Outcome::Failed(0, "internal fault", ErrorKind::kInternal);
    }
}

bool IsPcFailure(ErrorKind kind) { return kind == ErrorKind::kPcFile || kind == ErrorKind::kNoRoomOnPc; }

std::string StatusName(uint32_t status) {
    switch (status) {
    case 0: return "no answer";
    case ST_CONTINUE: return "continue";
    case ST_OK: return "ok";
    case ST_BAD_REQUEST: return "bad request";
    case ST_NOT_ACCEPTABLE: return "not acceptable (not connected)";
    case ST_FAILED: return "failed on the phone";
    case ST_NOT_IMPLEMENTED: return "not implemented";
    case ST_UNSUPPORTED: return "unsupported or refused";
    case ST_BAD_PARAMETER: return "failed on the phone, or the phone refused a parameter";
    case ST_DISCONNECTED: return "phone not connected";
    case ST_CONNECT_FAILED: return "could not connect";
    default: return "unknown status";
    }
}

}  // namespace host
