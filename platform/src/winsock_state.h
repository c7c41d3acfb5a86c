// State shared by the Winsock stand-in's files. Internal to the platform library.
#pragma once

namespace zntr::platform::detail {

// Whether WSAStartup has succeeded more often than WSACleanup: without it every socket call
// fails with WSANOTINITIALISED, as on Windows.
bool WinsockStarted();

}  // namespace zntr::platform::detail
