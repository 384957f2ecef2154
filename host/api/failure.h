// How front ends answer a failed outcome of the core: its exit code, its sentence, the
// failure document of --json and of the web API, its HTTP status. All by its kind,
// never by its words.
#ifndef CEBRIDGE_HOST_FAILURE_H
#define CEBRIDGE_HOST_FAILURE_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "outcome.h"

namespace host {

// Documented exit codes.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,        // the phone refused or the operation failed
    kExitUsage = 2,         // bad arguments
    kExitLocalFile = 3,     // a local file could not be read or written
    kExitInterrupted = 4,   // Ctrl-C
    kExitNoConnection = 5,  // could not connect
};

int ExitCodeFor(ErrorKind kind);
inline int ExitCodeFor(const Outcome &outcome) { return ExitCodeFor(outcome.kind); }
// Whether a failure of this kind is worded by the host (bad input, another phone's
// pair, the PC's failures, a sync server's), in UTF-8; the others carry the phone's
// words, in its code page.
bool HostWorded(ErrorKind kind);
// The sentence for people: the host's words under the command's name.
std::string FailureText(const char *command, const Outcome &outcome);
// {"error": TEXT, "exitCode": N, "kind": "notFound", "status": S, "statusName": "..."}
// (status and its name only when the plug-in answered).
nlohmann::json FailureDocument(const std::string &error, int exitCode, ErrorKind kind, uint32_t status);
// The document of a failed outcome, its exit code that of its kind.
nlohmann::json FailureDocument(const std::string &error, const Outcome &outcome);
int HttpStatusFor(ErrorKind kind);

}  // namespace host

#endif  // CEBRIDGE_HOST_FAILURE_H
