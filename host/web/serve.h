// `cebridge serve`: the API's routes on the host's own commands (web.h says what the
// server guards).
#ifndef CEBRIDGE_HOST_WEB_SERVE_H
#define CEBRIDGE_HOST_WEB_SERVE_H

#include "context.h"
#include "web.h"

namespace host {

// Serves until Ctrl-C (TERM, HUP); an operation in flight is cancelled as the
// command line cancels it. The exit code of the command.
int CmdServe(Context &context, const web::ServeOptions &options);

}  // namespace host

// CmdServe as the module libcebridge_serve.so offers it to the program that loads it.
extern "C" __attribute__((visibility("default"))) int cebridge_serve(host::Context *context,
                                                                     const web::ServeOptions *options);

#endif  // CEBRIDGE_HOST_WEB_SERVE_H
