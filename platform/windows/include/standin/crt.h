// Windows build: the C runtime's own number readers (the UCRT's, which clamp on overflow) under
// the names the stand-in gives its copies of them, so that the conformance tests pin the real
// ones.
#pragma once

#include <cstdlib>

#include "driver_platform.h"

#define zntr_crt_atoi atoi
#define zntr_crt_strtol strtol
