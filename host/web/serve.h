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

#endif  // CEBRIDGE_HOST_WEB_SERVE_H
