// Conformance of the event-tracing registration and of the in-process controller that drives it:
// a provider registers a control GUID with a callback; enabling calls it with WMI_ENABLE_EVENTS
// and a header from which GetTraceLoggerHandle, GetTraceEnableLevel and GetTraceEnableFlags read
// the session back; disabling calls it with WMI_DISABLE_EVENTS. Also DisableThreadLibraryCalls.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

#include "standin/errhandlingapi.h"
#include "standin/evntrace.h"
#include "standin/handleapi.h"
#include "standin/libloaderapi.h"
#include "standin/loader_control.h"
#include "standin/trace_control.h"

namespace {

// {0D3E2B7A-5C41-4F8E-9A6B-1C2D3E4F5A6B}
constexpr GUID kControl = {
    0x0D3E2B7A, 0x5C41, 0x4F8E, {0x9A, 0x6B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x6B}};
// {0D3E2B7B-5C41-4F8E-9A6B-1C2D3E4F5A6B}
constexpr GUID kEventClass = {
    0x0D3E2B7B, 0x5C41, 0x4F8E, {0x9A, 0x6B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x6B}};

// What the provider's callback saw, read back as a provider reads it.
struct Seen {
    WMIDPREQUESTCODE code;
    void* context;
    TRACEHANDLE logger;
    UCHAR level;
    ULONG flags;
};
std::vector<Seen> gSeen;
ULONG gAnswer = ERROR_SUCCESS;

ULONG WINAPI Callback(WMIDPREQUESTCODE code, PVOID context, ULONG* /*reserved*/, PVOID buffer) {
    Seen seen{code, context, 0, 0, 0};
    if (code == WMI_ENABLE_EVENTS) {
        seen.logger = GetTraceLoggerHandle(buffer);
        seen.level = GetTraceEnableLevel(seen.logger);
        seen.flags = GetTraceEnableFlags(seen.logger);
    } else if (code == WMI_DISABLE_EVENTS) {
        seen.logger = GetTraceLoggerHandle(buffer);
    }
    gSeen.push_back(seen);
    return gAnswer;
}

class EventTracingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gSeen.clear();
        gAnswer = ERROR_SUCCESS;
    }
    void TearDown() override {
        if (handle_ != 0) {
            UnregisterTraceGuids(handle_);
        }
    }
    ULONG Register() {
        return RegisterTraceGuidsW(Callback, &context_, &kControl, 1, guids_, nullptr, nullptr,
                                   &handle_);
    }
    bool Listed() {
        for (const zntr::platform::TraceRegistration& registration :
             zntr::platform::ListTraceRegistrations()) {
            if (registration.registrationHandle == handle_ &&
                IsEqualGUID(registration.controlGuid, kControl)) {
                return true;
            }
        }
        return false;
    }

    int context_ = 0;
    TRACE_GUID_REGISTRATION guids_[1] = {{&kEventClass, nullptr}};
    TRACEHANDLE handle_ = 0;
};

TEST_F(EventTracingTest, RegistrationIsListedWithAHandleForEachTraceGuid) {
    ASSERT_EQ(Register(), static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_NE(handle_, 0u);
    EXPECT_NE(guids_[0].RegHandle, nullptr);
    EXPECT_TRUE(Listed());
    EXPECT_TRUE(gSeen.empty()) << "registering calls nothing while no session enabled it";

    EXPECT_EQ(UnregisterTraceGuids(handle_), static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_FALSE(Listed());
    EXPECT_EQ(UnregisterTraceGuids(handle_), static_cast<ULONG>(ERROR_INVALID_PARAMETER))
        << "unregistered twice";
    handle_ = 0;
}

TEST_F(EventTracingTest, RegistrationRefusesMissingArguments) {
    TRACEHANDLE handle = 0;
    EXPECT_EQ(
        RegisterTraceGuidsW(nullptr, nullptr, &kControl, 0, nullptr, nullptr, nullptr, &handle),
        static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(
        RegisterTraceGuidsW(Callback, nullptr, nullptr, 0, nullptr, nullptr, nullptr, &handle),
        static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(
        RegisterTraceGuidsW(Callback, nullptr, &kControl, 0, nullptr, nullptr, nullptr, nullptr),
        static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(
        RegisterTraceGuidsW(Callback, nullptr, &kControl, 1, nullptr, nullptr, nullptr, &handle),
        static_cast<ULONG>(ERROR_INVALID_PARAMETER));
}

TEST_F(EventTracingTest, EnableAndDisableCallTheProviderWhichReadsTheSessionBack) {
    ASSERT_EQ(Register(), static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_EQ(zntr::platform::EnableTraceControl(kControl, 0x77, 5, 0x30),
              static_cast<ULONG>(ERROR_SUCCESS));
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].code, WMI_ENABLE_EVENTS);
    EXPECT_EQ(gSeen[0].context, &context_) << "the registration's context is passed on";
    EXPECT_EQ(gSeen[0].logger, 0x77u);
    EXPECT_EQ(gSeen[0].level, 5);
    EXPECT_EQ(gSeen[0].flags, 0x30u);

    const std::vector<zntr::platform::TraceRegistration> listed =
        zntr::platform::ListTraceRegistrations();
    bool enabled = false;
    for (const auto& registration : listed) {
        enabled = enabled || (registration.registrationHandle == handle_ && registration.enabled &&
                              registration.level == 5 && registration.flags == 0x30u);
    }
    EXPECT_TRUE(enabled);

    EXPECT_EQ(zntr::platform::DisableTraceControl(kControl), static_cast<ULONG>(ERROR_SUCCESS));
    ASSERT_EQ(gSeen.size(), 2u);
    EXPECT_EQ(gSeen[1].code, WMI_DISABLE_EVENTS);
    EXPECT_EQ(gSeen[1].logger, 0x77u) << "the session that had enabled it";

    // The controller returns what the provider answered.
    gAnswer = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(zntr::platform::SendTraceRequest(kControl, WMI_CAPTURE_STATE),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(gSeen.back().code, WMI_CAPTURE_STATE);
}

TEST_F(EventTracingTest, AControlNobodyRegisteredIsNotFound) {
    EXPECT_EQ(zntr::platform::EnableTraceControl(kControl, 1, 1, 1),
              static_cast<ULONG>(ERROR_WMI_GUID_NOT_FOUND));
    EXPECT_EQ(zntr::platform::DisableTraceControl(kControl),
              static_cast<ULONG>(ERROR_WMI_GUID_NOT_FOUND));
    EXPECT_TRUE(gSeen.empty());
    ASSERT_EQ(Register(), static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_EQ(zntr::platform::EnableTraceControl(kControl, 0, 1, 1),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER))
        << "a session needs a logger handle";
}

// The reading functions fail as Windows documents: INVALID_HANDLE_VALUE for a missing buffer or
// handle, 0 with ERROR_INVALID_HANDLE for a handle no session gave out.
TEST_F(EventTracingTest, ReadingFunctionsRefuseWhatNoSessionGave) {
    SetLastError(0);
    EXPECT_EQ(GetTraceLoggerHandle(nullptr), reinterpret_cast<TRACEHANDLE>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    WNODE_HEADER empty{};
    EXPECT_EQ(GetTraceLoggerHandle(&empty), reinterpret_cast<TRACEHANDLE>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetTraceEnableLevel(0xDEAD0000), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetTraceEnableFlags(0xDEAD0000), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A module handle is the address a module is loaded at; anything else is not a module.
TEST(LibraryLoaderTest, DisableThreadLibraryCallsTakesLoadedModulesOnly) {
    Dl_info info;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&DisableThreadLibraryCalls), &info), 0);
    const HMODULE platform = static_cast<HMODULE>(info.dli_fbase);
    EXPECT_NE(DisableThreadLibraryCalls(platform), FALSE);
    EXPECT_TRUE(zntr::platform::ThreadLibraryCallsDisabled(platform));
    zntr::platform::ForgetModule(platform);
    EXPECT_FALSE(zntr::platform::ThreadLibraryCallsDisabled(platform));

    int local = 0;
    SetLastError(0);
    EXPECT_EQ(DisableThreadLibraryCalls(reinterpret_cast<HMODULE>(&local)), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(DisableThreadLibraryCalls(nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
