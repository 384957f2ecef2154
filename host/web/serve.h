// `cebridge serve`: the API's routes on the host's core (web.h says what the server
// guards, serve_api.h how the routes run). Built as a module beside the program,
// which hands it the phone's session.
#ifndef CEBRIDGE_HOST_WEB_SERVE_H
#define CEBRIDGE_HOST_WEB_SERVE_H

#include <atomic>

#include "outcome.h"
#include "phone_session.h"
#include "web.h"

namespace host {

// What the program hands the module: the phone's session, how it connects, and the
// flag that cancels the session's operation in flight (the program's Ctrl-C sets it).
struct ServeCall {
    PhoneSession &session;
    const SessionOptions &sessionOptions;
    std::atomic<bool> &cancel;
    const web::ServeOptions &options;
    Outcome outcome;  // how serving ended: ok after Ctrl-C, TERM or HUP
};

// Serves until Ctrl-C (TERM, HUP); an operation in flight is cancelled as the
// command line cancels it. A failure to start is kBadInput (the address).
void Serve(ServeCall &call);

}  // namespace host

// Serve as the module (libcebridge_serve.so, cebridge_serve.dll) offers it to the
// program that loads it.
#if defined(_WIN32)
extern "C" __declspec(dllexport) void cebridge_serve(host::ServeCall *call);
#else
extern "C" __attribute__((visibility("default"))) void cebridge_serve(host::ServeCall *call);
#endif

#endif  // CEBRIDGE_HOST_WEB_SERVE_H
