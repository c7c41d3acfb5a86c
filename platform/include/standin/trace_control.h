// The controller's side of event tracing, with no Windows counterpart: a test enables and
// disables a registered control GUID as a trace session would, to drive a provider's control
// callback. Driver code never uses this.
#pragma once

#include <vector>

#include "standin/evntrace.h"

namespace zntr::platform {

// One provider's registration as RegisterTraceGuidsW made it, and what the controller last asked
// of it.
struct TraceRegistration {
    GUID controlGuid = GUID_NULL;
    TRACEHANDLE registrationHandle = 0;
    bool enabled = false;
    TRACEHANDLE loggerHandle = 0;
    UCHAR level = 0;
    ULONG flags = 0;
};

// Enables the control GUID's providers for a session: the logger handle then reports the level
// and flags (GetTraceEnableLevel, GetTraceEnableFlags), and each registration's callback is
// called with WMI_ENABLE_EVENTS and a WNODE_HEADER carrying the handle. Returns the last
// callback's answer, or ERROR_WMI_GUID_NOT_FOUND when no provider registered the GUID. A logger
// handle of 0 is refused with ERROR_INVALID_PARAMETER.
ULONG EnableTraceControl(const GUID& controlGuid, TRACEHANDLE loggerHandle, UCHAR level,
                         ULONG flags);

// Disables the control GUID: each callback is called with WMI_DISABLE_EVENTS and the header of
// the session that had enabled it. Returns as EnableTraceControl does.
ULONG DisableTraceControl(const GUID& controlGuid);

// Sends any other request code to the control GUID's callbacks (with no buffer) and returns the
// last answer, or ERROR_WMI_GUID_NOT_FOUND.
ULONG SendTraceRequest(const GUID& controlGuid, WMIDPREQUESTCODE requestCode);

// The registrations in force, in the order they were made.
std::vector<TraceRegistration> ListTraceRegistrations();

}  // namespace zntr::platform
