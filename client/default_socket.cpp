#include "default_socket.h"

#include <unistd.h>

#include <cstdlib>

namespace zntr::client {

std::string DefaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/zntr/host.sock";
    }
    return "/tmp/zntr-" + std::to_string(::getuid()) + "/host.sock";
}

}  // namespace zntr::client
