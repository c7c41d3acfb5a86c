// What the stand-in's module functions recorded, with no Windows counterpart: for the framework
// host and the tests. Driver code never uses this.
#pragma once

#include "standin/libloaderapi.h"

namespace zntr::platform {

// Whether DisableThreadLibraryCalls succeeded for the module loaded at this address.
bool ThreadLibraryCallsDisabled(HMODULE module);

// Forgets the module's record: the loader calls this when it unloads the module, since another
// module may later be loaded at the same address.
void ForgetModule(HMODULE module);

}  // namespace zntr::platform
