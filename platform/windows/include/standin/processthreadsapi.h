// Windows build: the SDK declares what the stand-in's processthreadsapi.h does (see
// driver_platform.h).
#pragma once

#include "driver_platform.h"
