// What the program hands the `serve` module when it loads it: the command line and
// the server depend on this, not on each other.
#ifndef CEBRIDGE_HOST_API_SERVE_CALL_H
#define CEBRIDGE_HOST_API_SERVE_CALL_H

#include <atomic>

#include "outcome.h"
#include "serve_options.h"

namespace host {

class PhoneSession;
struct SessionOptions;

// The phone's session, how it connects, and the flag that cancels the session's
// operation in flight (the program's Ctrl-C sets it).
struct ServeCall {
    PhoneSession &session;
    const SessionOptions &sessionOptions;
    std::atomic<bool> &cancel;
    const ServeOptions &options;
    Outcome outcome;  // how serving ended: ok after Ctrl-C, TERM or HUP
};

}  // namespace host

// The module's entry: serves until Ctrl-C (TERM, HUP); a failure to start is kBadInput
// (the address).
// (libcebridge_serve.so, cebridge_serve.dll beside the program)
#if defined(_WIN32)
extern "C" __declspec(dllexport) void cebridge_serve(host::ServeCall *call);
#else
extern "C" __attribute__((visibility("default"))) void cebridge_serve(host::ServeCall *call);
#endif

#endif  // CEBRIDGE_HOST_API_SERVE_CALL_H
