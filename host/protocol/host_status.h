// Windows statuses that the framework host and its clients use beyond those the stand-in's
// winerror.h lists. Each is the Windows value; a definition the platform already has wins.
#pragma once

#include "standin/winerror.h"

// The device is not connected: the host went away (or was never there) while a client used it.
#ifndef ERROR_DEVICE_NOT_CONNECTED
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#endif
// The device has been removed: its hardware was released, so it takes no new opens.
#ifndef ERROR_DEVICE_REMOVED
#define ERROR_DEVICE_REMOVED 1617L
#endif
// A power or Plug and Play command that the device's present state does not allow.
#ifndef ERROR_INVALID_STATE
#define ERROR_INVALID_STATE 5023L
#endif
// A client speaking another version of the host's protocol.
#ifndef ERROR_REVISION_MISMATCH
#define ERROR_REVISION_MISMATCH 1306L
#endif
// A request the framework ended without handing it to the driver (its queue went away).
#ifndef ERROR_OPERATION_ABORTED
#define ERROR_OPERATION_ABORTED 995L
#endif
