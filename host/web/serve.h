// `cebridge serve`: the API's routes on the host's core (web.h says what the server
// guards, serve_api.h how the routes run). Built as a module beside the program,
// which hands it the phone's session.
#ifndef CEBRIDGE_HOST_WEB_SERVE_H
#define CEBRIDGE_HOST_WEB_SERVE_H

#include "phone_session.h"
#include "serve_call.h"
#include "web.h"

namespace host {

// Serves until Ctrl-C (TERM, HUP); an operation in flight is cancelled as the
// command line cancels it. A failure to start is kBadInput (the address).
void Serve(ServeCall &call);

}  // namespace host

#endif  // CEBRIDGE_HOST_WEB_SERVE_H
