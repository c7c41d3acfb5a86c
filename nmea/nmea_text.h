// The conversion of received NMEA bytes into the wide text the reader works on.
#pragma once

#include "driver_platform.h"

// The terminated narrow text in the thread's ANSI code page as a wide string; empty for an empty
// text or when the conversion cannot be made.
std::wstring AnsiTextToWide(const char* text);
// The same into `wide`, whose contents it replaces and whose storage it reuses.
void AnsiTextToWide(const char* text, std::wstring& wide);
