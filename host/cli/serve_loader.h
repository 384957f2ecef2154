// Loading the serve module (libcebridge_serve.so, cebridge_serve.dll) beside the program.
#ifndef CEBRIDGE_HOST_CLI_SERVE_LOADER_H
#define CEBRIDGE_HOST_CLI_SERVE_LOADER_H

#include <string>

#include "serve_call.h"

namespace host {

using ServeEntry = decltype(&cebridge_serve);

// The module's entry, loaded for the rest of the program's life; null with `why` set
// (the system's reason, which names the module) when it cannot be loaded.
ServeEntry LoadServeModule(const std::string &path, std::string *why);

}  // namespace host

#endif  // CEBRIDGE_HOST_CLI_SERVE_LOADER_H
