// Windows build: the SDK declares what the stand-in's ws2tcpip.h does (see driver_platform.h).
#pragma once

#include "driver_platform.h"
