// Windows build: the SDK declares what the stand-in's winsock2.h does (see driver_platform.h).
#pragma once

#include "driver_platform.h"
