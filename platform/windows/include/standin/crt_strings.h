// Windows build: the C runtime's own strtok, which keeps its position per thread, under the name
// the stand-in gives its copy of it.
#pragma once

#include <cstring>

#include "driver_platform.h"

#define zntr_crt_strtok strtok
