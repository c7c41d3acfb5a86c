// The stand-in's own COM classes built into a Windows program, for the components that Wine
// lacks (see platform_class_objects.cpp).
#pragma once

#include <cstddef>
#include <vector>

#include "driver_platform.h"

namespace zntr::platform {

// Registers a class object for each of the classes built into the program, for any number of
// creations; the cookies are appended. On a failure the ones made are revoked again.
// The calling thread must be in a COM apartment.
HRESULT RegisterPlatformClassObjects(std::vector<DWORD>* cookies);
// Revokes them and empties the list; the first failure (if any) is answered.
HRESULT RevokePlatformClassObjects(std::vector<DWORD>* cookies);
// How many classes are built in.
std::size_t PlatformClassCount();

}  // namespace zntr::platform
