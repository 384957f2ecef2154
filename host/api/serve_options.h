// Where `cebridge serve` listens: what the command line reads and the server binds.
#ifndef CEBRIDGE_HOST_API_SERVE_OPTIONS_H
#define CEBRIDGE_HOST_API_SERVE_OPTIONS_H

#include <string>

namespace host {

struct ServeOptions {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: a free port
    bool open = false;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_API_SERVE_OPTIONS_H
