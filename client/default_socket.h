// Where a host serves the device unless told otherwise: one default that `zntr host`, the tools
// and the client library share. It needs no root: $XDG_RUNTIME_DIR/zntr/host.sock when
// XDG_RUNTIME_DIR is set, else /tmp/zntr-<uid>/host.sock. The host makes the folder with mode
// 0700.
#pragma once

#include <string>

namespace zntr::client {

std::string DefaultSocketPath();

}  // namespace zntr::client
