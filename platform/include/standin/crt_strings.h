// C runtime string functions with the behaviour of the Windows C runtime (UCRT) where glibc's
// differ. strtok keeps its parsing position per thread, as the UCRT's does, where glibc keeps
// one for the whole process; the receive threads of the sensor and of the raw read queue each
// split their own text at the same time. Driver code reaches it under the standard name through
// a macro in driver_platform.h.
#pragma once

extern "C" {
char* zntr_crt_strtok(char* str, const char* delim);
}
