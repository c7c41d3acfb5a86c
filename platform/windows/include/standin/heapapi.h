// Windows build: the SDK declares what the stand-in's heapapi.h does (see driver_platform.h).
#pragma once

#include "driver_platform.h"
