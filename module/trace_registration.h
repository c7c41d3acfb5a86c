// The driver's event-tracing control: registered on process attach so that a trace controller
// can enable and disable it, unregistered on process detach. The driver writes no trace events;
// the control callback only records what the controller asked for.
#pragma once

#include "driver_platform.h"

// The control GUID, a fixed identifier of this driver's own:
// {8C1B7E42-3D95-4A6F-B207-5E9C1A4D6F38}
inline constexpr GUID TRACE_CONTROL_GUID = {
    0x8C1B7E42, 0x3D95, 0x4A6F, {0xB2, 0x07, 0x5E, 0x9C, 0x1A, 0x4D, 0x6F, 0x38}};
// The one trace GUID registered with it (the class of the events the driver would log):
// {8C1B7E43-3D95-4A6F-B207-5E9C1A4D6F38}
inline constexpr GUID TRACE_EVENT_GUID = {
    0x8C1B7E43, 0x3D95, 0x4A6F, {0xB2, 0x07, 0x5E, 0x9C, 0x1A, 0x4D, 0x6F, 0x38}};

// Registers the control with TraceControlCallback.
void RegisterTraceControl();
// Unregisters it and clears the registration handle.
void UnregisterTraceControl();

// The control callback: records the session's logger handle, level and flags on an enable
// request, clears them on a disable request (both answer ERROR_SUCCESS), and answers any other
// request with ERROR_INVALID_PARAMETER.
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE RequestCode, PVOID Context, ULONG* Reserved,
                                  PVOID Buffer);
