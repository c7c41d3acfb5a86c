// Event tracing registration and the in-process controller that drives it.
//
// Each registration keeps its callback; a controller's enable or disable calls the callbacks of
// the control GUID outside the lock, since a callback reads the session's level and flags back
// through GetTraceEnableLevel and GetTraceEnableFlags, which take it.
#include <map>
#include <mutex>
#include <vector>

#include "standin/errhandlingapi.h"
#include "standin/evntrace.h"
#include "standin/handleapi.h"
#include "standin/trace_control.h"

namespace {

struct Registration {
    zntr::platform::TraceRegistration record;
    WMIDPREQUEST callback = nullptr;
    PVOID context = nullptr;
};

struct Session {
    UCHAR level = 0;
    ULONG flags = 0;
};

struct TracingState {
    std::mutex mutex;
    std::vector<Registration> registrations;
    std::map<TRACEHANDLE, Session> sessions;
    TRACEHANDLE nextRegistration = 1;
};

TracingState& State() {
    static TracingState state;
    return state;
}

const TRACEHANDLE kInvalidTraceHandle = reinterpret_cast<TRACEHANDLE>(INVALID_HANDLE_VALUE);

struct PendingCall {
    WMIDPREQUEST callback;
    PVOID context;
};

// Marks the registrations of the GUID (through `update`) and collects their callbacks.
template <typename Update>
std::vector<PendingCall> CallsFor(const GUID& controlGuid, Update update) {
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<PendingCall> calls;
    for (Registration& registration : state.registrations) {
        if (IsEqualGUID(registration.record.controlGuid, controlGuid)) {
            update(registration.record);
            calls.push_back({registration.callback, registration.context});
        }
    }
    return calls;
}

ULONG Call(const std::vector<PendingCall>& calls, WMIDPREQUESTCODE code, WNODE_HEADER* header) {
    if (calls.empty()) {
        return ERROR_WMI_GUID_NOT_FOUND;
    }
    ULONG answer = ERROR_SUCCESS;
    for (const PendingCall& call : calls) {
        ULONG size = header != nullptr ? header->BufferSize : 0;
        answer = call.callback(code, call.context, &size, header);
    }
    return answer;
}

WNODE_HEADER HeaderFor(const GUID& controlGuid, TRACEHANDLE loggerHandle) {
    WNODE_HEADER header{};
    header.BufferSize = sizeof(header);
    header.HistoricalContext = loggerHandle;
    header.Guid = controlGuid;
    header.Flags = WNODE_FLAG_TRACED_GUID;
    return header;
}

}  // namespace

namespace zntr::platform {

ULONG EnableTraceControl(const GUID& controlGuid, TRACEHANDLE loggerHandle, UCHAR level,
                         ULONG flags) {
    if (loggerHandle == 0 || loggerHandle == kInvalidTraceHandle) {
        return ERROR_INVALID_PARAMETER;
    }
    {
        TracingState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.sessions[loggerHandle] = Session{level, flags};
    }
    const std::vector<PendingCall> calls = CallsFor(controlGuid, [&](TraceRegistration& record) {
        record.enabled = true;
        record.loggerHandle = loggerHandle;
        record.level = level;
        record.flags = flags;
    });
    WNODE_HEADER header = HeaderFor(controlGuid, loggerHandle);
    return Call(calls, WMI_ENABLE_EVENTS, &header);
}

ULONG DisableTraceControl(const GUID& controlGuid) {
    TRACEHANDLE loggerHandle = 0;
    const std::vector<PendingCall> calls = CallsFor(controlGuid, [&](TraceRegistration& record) {
        if (record.enabled) {
            loggerHandle = record.loggerHandle;
        }
        record.enabled = false;
        record.loggerHandle = 0;
        record.level = 0;
        record.flags = 0;
    });
    WNODE_HEADER header = HeaderFor(controlGuid, loggerHandle);
    return Call(calls, WMI_DISABLE_EVENTS, &header);
}

ULONG SendTraceRequest(const GUID& controlGuid, WMIDPREQUESTCODE requestCode) {
    return Call(CallsFor(controlGuid, [](TraceRegistration&) {}), requestCode, nullptr);
}

std::vector<TraceRegistration> ListTraceRegistrations() {
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<TraceRegistration> records;
    for (const Registration& registration : state.registrations) {
        records.push_back(registration.record);
    }
    return records;
}

}  // namespace zntr::platform

// The MOF resource names describe event layouts for a consumer; the stand-in logs no events and
// ignores them.
extern "C" ULONG RegisterTraceGuidsW(WMIDPREQUEST RequestAddress, PVOID RequestContext,
                                     LPCGUID ControlGuid, ULONG GuidCount,
                                     PTRACE_GUID_REGISTRATION TraceGuidReg,
                                     LPCWSTR /*MofImagePath*/, LPCWSTR /*MofResourceName*/,
                                     PTRACEHANDLE RegistrationHandle) {
    if (RequestAddress == nullptr || ControlGuid == nullptr || RegistrationHandle == nullptr ||
        (GuidCount != 0 && TraceGuidReg == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    Registration registration;
    registration.record.controlGuid = *ControlGuid;
    registration.record.registrationHandle = state.nextRegistration++;
    registration.callback = RequestAddress;
    registration.context = RequestContext;
    // Each trace GUID gets a handle of its own; a provider passes it when it logs an event of
    // that class, which the stand-in never does.
    for (ULONG i = 0; i < GuidCount; ++i) {
        TraceGuidReg[i].RegHandle = reinterpret_cast<HANDLE>(
            static_cast<ULONG_PTR>(registration.record.registrationHandle << 8 | (i + 1)));
    }
    *RegistrationHandle = registration.record.registrationHandle;
    state.registrations.push_back(registration);
    return ERROR_SUCCESS;
}

extern "C" ULONG UnregisterTraceGuids(TRACEHANDLE RegistrationHandle) {
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (auto it = state.registrations.begin(); it != state.registrations.end(); ++it) {
        if (it->record.registrationHandle == RegistrationHandle) {
            state.registrations.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

extern "C" TRACEHANDLE GetTraceLoggerHandle(PVOID Buffer) {
    if (Buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidTraceHandle;
    }
    const TRACEHANDLE handle = static_cast<const WNODE_HEADER*>(Buffer)->HistoricalContext;
    if (handle == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return kInvalidTraceHandle;
    }
    return handle;
}

extern "C" UCHAR GetTraceEnableLevel(TRACEHANDLE TraceHandle) {
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.sessions.find(TraceHandle);
    if (found == state.sessions.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return found->second.level;
}

extern "C" ULONG GetTraceEnableFlags(TRACEHANDLE TraceHandle) {
    TracingState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.sessions.find(TraceHandle);
    if (found == state.sessions.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return found->second.flags;
}
