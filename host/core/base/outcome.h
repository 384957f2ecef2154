// How an operation of the host ended, as data: the one failure type of the core.
// Front ends answer by its kind (an exit code, an HTTP status), never by its words.
#ifndef CEBRIDGE_HOST_OUTCOME_H
#define CEBRIDGE_HOST_OUTCOME_H

#include <cstdint>
#include <functional>
#include <string>

#include "cebridge/agent.h"

namespace host {

// What kind of failure an outcome is.
enum class ErrorKind {
    kNone,          // it did not fail
    kPhoneRefused,  // the phone or the plug-in said no
    kNotFound,
    kNotAFolder,  // a file is where a folder is wanted
    kNoRoomOnPhone,
    kNoRoomOnPc,
    kInterrupted,
    kPcFile,  // a PC file could not be read or written
    kBadInput,
    kBusy,  // another process is writing to the phone
    kNoConnection,
    kChanged,     // the item changed on its side since it was listed (a sync's server answered 412)
    kOtherPhone,  // a sync pair first synced with another phone
    kInternal,    // a fault of the host itself (an exception caught at a front end's edge)
    kServer,      // a sync's server was not reached, refused, or answered out of form
};
// "notFound", "noRoomOnPhone"...
const char *ErrorKindName(ErrorKind kind);
// The PC's failures (a file it could not read or write, a full disk), not the phone's.
bool IsPcFailure(ErrorKind kind);

// How an operation ended. `status` is the plug-in's status code (0 when no answer).
struct Outcome {
    bool ok = false;
    uint32_t status = 0;
    std::string message;    // a sentence for people when it failed
    std::string note;       // what was done about a failure (said also when it was interrupted)
    bool nameLost = false;  // the listing's name is not the phone's, and the phone's cannot be said
    ErrorKind kind = ErrorKind::kNone;

    static Outcome Ok() { return {true, ST_OK, {}, {}}; }
    static Outcome Failed(uint32_t status, std::string message, ErrorKind kind = ErrorKind::kPhoneRefused) {
        return {false, status, std::move(message), {}, false, kind};
    }
};

// A failure of the PC's side (a file it could not read or write), in these words.
inline Outcome PcFailure(const std::string &message) { return Outcome::Failed(0, message, ErrorKind::kPcFile); }
// What the user gave cannot be done, in these words.
inline Outcome BadInput(const std::string &message) { return Outcome::Failed(0, message, ErrorKind::kBadInput); }

// `run`'s outcome, or an exception it threw as a kInternal failure naming it: the
// core's entry points hand failures back as outcomes, never as exceptions.
Outcome CaughtAsInternal(const std::function<Outcome()> &run);

// Answers of a status code in words.
std::string StatusName(uint32_t status);

}  // namespace host

#endif  // CEBRIDGE_HOST_OUTCOME_H
