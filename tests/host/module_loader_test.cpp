// Loading a driver module as the framework's host does: the exports and the version it must
// have, its entry point called with its load address, a refused attach, and an unload that
// waits for the module's objects to be gone.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "driver_module.h"
#include "host_report.h"
#include "standin/control.h"
#include "standin/loader_control.h"
#include "standin/wrl_client.h"
#include "test_driver_codes.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::host::DriverModule;
using zntr::host::ModuleLoadError;

std::string ModulePath(const std::string& name) {
    return std::string(ZNTR_TEST_MODULES) + "/" + name + ".so";
}

// The test driver's lines among the debugger output.
std::vector<std::string> DriverLines(zntr::platform::DebugOutputCapture& capture) {
    std::vector<std::string> lines;
    for (const std::string& text : capture.Take()) {
        if (text.rfind("test driver: ", 0) == 0) {
            lines.push_back(text.substr(13, text.size() - 14));
        }
    }
    return lines;
}

// The message of the load's failure, or "" when it loaded.
std::string LoadFailure(const std::string& path) {
    try {
        DriverModule::Load(path);
    } catch (const ModuleLoadError& error) {
        return error.what();
    }
    return "";
}

TEST(ModuleLoaderTest, CallsTheEntryPointWithTheLoadAddressAndUnloadsWhenAllowed) {
    zntr::platform::DebugOutputCapture capture;
    auto module = DriverModule::Load(ModulePath("test_driver"));
    EXPECT_EQ(DriverLines(capture), std::vector<std::string>{"DllMain attach"});
    EXPECT_EQ(module->Version().MajorNumber, 1u);
    EXPECT_EQ(module->Version().MinorNumber, 9u);

    // The handle is the load address; the entry routine got it (it passed it to
    // DisableThreadLibraryCalls, which knows the address as a module's).
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(module->Handle()), &info), 0);
    EXPECT_EQ(info.dli_fbase, static_cast<void*>(module->Handle()));
    EXPECT_TRUE(zntr::platform::ThreadLibraryCallsDisabled(module->Handle()));

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(module->GetClassObject(GUID_NULL, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(module->GetClassObject(zntr::test_driver::kDriverClass, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    EXPECT_EQ(module->CanUnloadNow(), S_FALSE) << "the factory is held";
    factory = nullptr;
    EXPECT_EQ(module->CanUnloadNow(), S_OK);
    const HMODULE handle = module->Handle();
    EXPECT_TRUE(module->Unload());
    EXPECT_EQ(DriverLines(capture), std::vector<std::string>{"DllMain detach"});
    EXPECT_FALSE(zntr::platform::ThreadLibraryCallsDisabled(handle)) << "the record is forgotten";
    EXPECT_TRUE(module->Unload()) << "a second unload does nothing";
    EXPECT_TRUE(DriverLines(capture).empty());
}

TEST(ModuleLoaderTest, TakesTheHostsMajorVersionWithAMinorVersionNotAboveIts) {
    struct Case {
        const char* module;
        const char* failure;  // part of the message; "" for a module that loads
    };
    const Case cases[] = {
        {"test_driver", ""},
        {"test_driver_v1_5", ""},
        {"test_driver_v1_10", "is built for framework version 1.10.0; this host runs 1.9.0"},
        {"test_driver_v2_0", "is built for framework version 2.0.0; this host runs 1.9.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module);
        zntr::platform::DebugOutputCapture capture;
        const std::string failure = LoadFailure(ModulePath(c.module));
        if (c.failure[0] == '\0') {
            EXPECT_EQ(failure, "");
            EXPECT_EQ(DriverLines(capture),
                      (std::vector<std::string>{"DllMain attach", "DllMain detach"}));
        } else {
            EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
            EXPECT_TRUE(DriverLines(capture).empty()) << "no code of the module ran";
        }
    }
}

TEST(ModuleLoaderTest, AModuleThatRefusesTheAttachIsToldOfTheDetachAndNotLoaded) {
    zntr::platform::DebugOutputCapture capture;
    const std::string failure = LoadFailure(ModulePath("test_driver_refuses"));
    EXPECT_NE(failure.find("DllMain refused the process attach (it returned FALSE)"),
              std::string::npos)
        << failure;
    EXPECT_EQ(DriverLines(capture), (std::vector<std::string>{"DllMain attach", "DllMain detach"}));
}

TEST(ModuleLoaderTest, SaysWhatIsWrongWithAFileThatIsNotADriverModule) {
    struct Case {
        std::string path;
        const char* failure;
    };
    const Case cases[] = {
        {ModulePath("no_such_module"), "no such file"},
        {ZNTR_PLATFORM_LIBRARY, "is not a driver module: it does not export DllGetClassObject"},
        {std::string(ZNTR_TEST_MODULES), "cannot load"},  // a folder
    };
    for (const Case& c : cases) {
        const std::string failure = LoadFailure(c.path);
        EXPECT_NE(failure.find(c.failure), std::string::npos) << c.path << ": " << failure;
    }
}

TEST(ModuleLoaderTest, KeepsAModuleWhoseObjectsAreStillAlive) {
    std::vector<std::string> errors;
    auto previous = zntr::host::SetHostReportSink(
        [&errors](zntr::host::ReportKind kind, std::string_view message) {
            if (kind == zntr::host::ReportKind::kError) {
                errors.emplace_back(message);
            }
        });
    zntr::platform::DebugOutputCapture capture;
    auto module = DriverModule::Load(ModulePath("test_driver"));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(module->GetClassObject(zntr::test_driver::kDriverClass, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    EXPECT_FALSE(module->Unload());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("DllCanUnloadNow"), std::string::npos) << errors[0];
    EXPECT_EQ(DriverLines(capture), std::vector<std::string>{"DllMain attach"})
        << "no detach: the module stays";
    // The module is still mapped, so its object can still be released.
    factory = nullptr;
    zntr::host::SetHostReportSink(std::move(previous));
}

}  // namespace
