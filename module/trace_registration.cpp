#include "trace_registration.h"

#include <atomic>

namespace {

TRACEHANDLE gTraceRegistrationHandle = 0;
// The registration's trace GUIDs; the platform fills in each one's handle.
TRACE_GUID_REGISTRATION gTraceGuids[] = {{&TRACE_EVENT_GUID, nullptr}};

// What the controller last asked for. Written by the callback on the controller's thread, so
// atomic.
std::atomic<TRACEHANDLE> gTraceLoggerHandle{0};
std::atomic<UCHAR> gTraceEnableLevel{0};
std::atomic<ULONG> gTraceEnableFlags{0};

}  // namespace

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE RequestCode, PVOID /*Context*/,
                                  ULONG* /*Reserved*/, PVOID Buffer) {
    switch (RequestCode) {
        case WMI_ENABLE_EVENTS: {
            const TRACEHANDLE loggerHandle = GetTraceLoggerHandle(Buffer);
            gTraceLoggerHandle = loggerHandle;
            gTraceEnableLevel = GetTraceEnableLevel(loggerHandle);
            gTraceEnableFlags = GetTraceEnableFlags(loggerHandle);
            return ERROR_SUCCESS;
        }
        case WMI_DISABLE_EVENTS:
            gTraceLoggerHandle = 0;
            gTraceEnableLevel = 0;
            gTraceEnableFlags = 0;
            return ERROR_SUCCESS;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

void RegisterTraceControl() {
    RegisterTraceGuidsW(TraceControlCallback, nullptr, &TRACE_CONTROL_GUID,
                        static_cast<ULONG>(std::size(gTraceGuids)), gTraceGuids, nullptr, nullptr,
                        &gTraceRegistrationHandle);
}

void UnregisterTraceControl() {
    UnregisterTraceGuids(gTraceRegistrationHandle);
    gTraceRegistrationHandle = 0;
}
