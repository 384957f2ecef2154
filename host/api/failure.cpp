#include "failure.h"

#include "encoding.h"

namespace host {

int ExitCodeFor(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::kBadInput:
    case ErrorKind::kOtherPhone: return kExitUsage;
    case ErrorKind::kPcFile:
    case ErrorKind::kNoRoomOnPc: return kExitLocalFile;
    case ErrorKind::kInterrupted: return kExitInterrupted;
    case ErrorKind::kNoConnection: return kExitNoConnection;
    default: return kExitFailed;
    }
}

bool HostWorded(ErrorKind kind) {
    return kind == ErrorKind::kBadInput || kind == ErrorKind::kOtherPhone || kind == ErrorKind::kServer ||
           IsPcFailure(kind);
}

std::string FailureText(const char *command, const Outcome &outcome) {
    const std::string note = outcome.note.empty() ? "" : "; " + DeviceToTerminal(outcome.note);
    if (outcome.kind == ErrorKind::kInterrupted) return "interrupted" + note;
    if (HostWorded(outcome.kind)) return std::string(command) + ": " + outcome.message;
    return DeviceToTerminal(outcome.message) + note;
}

nlohmann::json FailureDocument(const std::string &error, int exitCode, ErrorKind kind, uint32_t status) {
    nlohmann::json document = {
        {"error", error.empty() ? "failed" : error}, {"exitCode", exitCode}, {"kind", ErrorKindName(kind)}};
    if (status != 0) {
        document["status"] = status;
        document["statusName"] = StatusName(status);
    }
    return document;
}

nlohmann::json FailureDocument(const std::string &error, const Outcome &outcome) {
    return FailureDocument(error, ExitCodeFor(outcome), outcome.kind, outcome.status);
}

int HttpStatusFor(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::kBadInput: return 400;
    case ErrorKind::kNotFound: return 404;
    case ErrorKind::kNoRoomOnPhone:
    case ErrorKind::kNoRoomOnPc: return 507;
    case ErrorKind::kPcFile:
    case ErrorKind::kInternal: return 500;
    case ErrorKind::kNoConnection: return 503;
    case ErrorKind::kServer: return 502;
    default: return 409;  // refused, busy, interrupted, in the way, another phone's pair
    }
}

}  // namespace host
