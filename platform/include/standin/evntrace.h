// Classic event tracing, the provider's side: registering a control GUID with a callback through
// which a trace controller enables and disables the provider, and reading what the controller
// asked for. The stand-in keeps the registrations and lets a controller in the same process (a
// test, through trace_control.h) enable and disable them; no events are logged.
#pragma once

#include "standin/windef.h"
#include "standin/winerror.h"

typedef std::uint64_t ULONG64;
typedef ULONG64 TRACEHANDLE;
typedef TRACEHANDLE* PTRACEHANDLE;
typedef const GUID* LPCGUID;

// What a controller asks of a provider's callback.
typedef enum _WMIDPREQUESTCODE {
    WMI_GET_ALL_DATA = 0,
    WMI_GET_SINGLE_INSTANCE = 1,
    WMI_SET_SINGLE_INSTANCE = 2,
    WMI_SET_SINGLE_ITEM = 3,
    WMI_ENABLE_EVENTS = 4,
    WMI_DISABLE_EVENTS = 5,
    WMI_ENABLE_COLLECTION = 6,
    WMI_DISABLE_COLLECTION = 7,
    WMI_REGINFO = 8,
    WMI_EXECUTE_METHOD = 9,
    WMI_CAPTURE_STATE = 10,
} WMIDPREQUESTCODE;

// The provider's control callback. For WMI_ENABLE_EVENTS and WMI_DISABLE_EVENTS, Buffer is a
// WNODE_HEADER from which GetTraceLoggerHandle takes the session's logger handle. The value
// returned is a Win32 error code (ERROR_SUCCESS when the request was handled).
typedef ULONG(WINAPI* WMIDPREQUEST)(WMIDPREQUESTCODE RequestCode, PVOID RequestContext,
                                    ULONG* BufferSize, PVOID Buffer);

typedef struct _TRACE_GUID_REGISTRATION {
    LPCGUID Guid;
    HANDLE RegHandle;  // set by RegisterTraceGuidsW
} TRACE_GUID_REGISTRATION, *PTRACE_GUID_REGISTRATION;

// The header a controller hands the callback. On Windows two of its members are unions; the
// stand-in names the member of each that tracing uses (the logger handle travels in
// HistoricalContext), with the same size and offsets.
typedef struct _WNODE_HEADER {
    ULONG BufferSize;
    ULONG ProviderId;
    ULONG64 HistoricalContext;
    LONGLONG TimeStamp;
    GUID Guid;
    ULONG ClientContext;
    ULONG Flags;
} WNODE_HEADER, *PWNODE_HEADER;

#define WNODE_FLAG_TRACED_GUID 0x00020000u

extern "C" {
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER when the callback, the control GUID or the handle's
// address is missing, or the trace GUID registrations are missing while GuidCount is not 0.
ULONG RegisterTraceGuidsW(WMIDPREQUEST RequestAddress, PVOID RequestContext, LPCGUID ControlGuid,
                          ULONG GuidCount, PTRACE_GUID_REGISTRATION TraceGuidReg,
                          LPCWSTR MofImagePath, LPCWSTR MofResourceName,
                          PTRACEHANDLE RegistrationHandle);
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a handle that is not registered.
ULONG UnregisterTraceGuids(TRACEHANDLE RegistrationHandle);
// The logger handle in a callback's WNODE_HEADER. On failure INVALID_HANDLE_VALUE, with
// ERROR_INVALID_PARAMETER for a null buffer and ERROR_INVALID_HANDLE for a header that carries
// no logger handle.
TRACEHANDLE GetTraceLoggerHandle(PVOID Buffer);
// The level and flags the session of a logger handle asked for; 0 with ERROR_INVALID_HANDLE in
// the last error for a handle that no controller gave out (a level or flags of 0 asked for
// leave the last error at ERROR_SUCCESS).
UCHAR GetTraceEnableLevel(TRACEHANDLE TraceHandle);
ULONG GetTraceEnableFlags(TRACEHANDLE TraceHandle);
}
