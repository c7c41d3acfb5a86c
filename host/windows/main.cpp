// zntr-device-host.exe: the framework host reduced to what one device needs in one process, as
// a Windows console program. It registers the components the driver creates and Wine lacks (the
// Portable Devices values and collections, the sensor class extension), loads ZntrLocation.dll,
// takes the driver through its start (DllGetClassObject, OnInitialize, OnDeviceAdd,
// OnPrepareHardware, OnD0Entry) for the device instance ID given, then opens the device as a
// client would and either watches the sensor or prints the raw stream, until the time or count
// asked for is reached or Ctrl-C comes. Then it closes the file, releases the hardware, and
// unloads the module, which must answer S_OK to DllCanUnloadNow.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "driver_class.h"
#include "framework_host.h"
#include "host_report.h"
#include "in_process_file.h"
#include "platform_class_objects.h"
#include "sensor_class_extension.h"
#include "sensor_watch.h"
#include "stop_signals.h"

namespace {

using namespace zntr;

constexpr const char kName[] = "zntr-device-host";
constexpr const char kUsage[] =
    "usage: zntr-device-host --instance-id ID (--events [--json] | --raw)\n"
    "                        [--duration SECONDS] [--count N] [--module PATH]\n"
    "                        [--hold-after-close]\n"
    "  --events     watch the sensor: its current state, then one line per event\n"
    "  --json       the events as the JSON lines of `zntr watch --json`\n"
    "  --raw        print the raw NMEA stream that reads of the device deliver\n"
    "  --duration   stop after this many seconds\n"
    "  --count      stop after this many data events (--events) or bytes (--raw)\n"
    "  --module     the driver module (default: ZntrLocation.dll beside this program)\n"
    "  --hold-after-close\n"
    "               once the file is closed, say so and wait for a line (or the end) on\n"
    "               standard input before releasing the hardware\n";

struct Options {
    std::string instanceIdText;  // as given
    std::wstring instanceId;
    bool events = false;
    bool raw = false;
    bool json = false;
    double duration = 0.0;
    unsigned long count = 0;
    std::filesystem::path module;
    bool holdAfterClose = false;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n%s", kName, problem.c_str(), kUsage);
    std::exit(2);
}

// An argument in the ANSI code page, as main receives it, as wide text.
std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    }
    return wide;
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage(flag + " needs a value");
            }
            return argv[++i];
        };
        auto number = [&](const std::string& text) {
            char* end = nullptr;
            const double parsed = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || parsed < 0) {
                Usage(flag + ": not a number of 0 or more: " + text);
            }
            return parsed;
        };
        if (flag == "--instance-id") {
            options.instanceIdText = value();
            options.instanceId = Widen(options.instanceIdText);
        } else if (flag == "--events") {
            options.events = true;
        } else if (flag == "--raw") {
            options.raw = true;
        } else if (flag == "--json") {
            options.json = true;
        } else if (flag == "--duration") {
            options.duration = number(value());
        } else if (flag == "--count") {
            options.count = static_cast<unsigned long>(number(value()));
        } else if (flag == "--module") {
            options.module = value();
        } else if (flag == "--hold-after-close") {
            options.holdAfterClose = true;
        } else if (flag == "--help" || flag == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            Usage("unknown argument " + flag);
        }
    }
    if (options.instanceId.empty()) {
        Usage("--instance-id is required");
    }
    if (options.events == options.raw) {
        Usage("give one of --events and --raw");
    }
    if (options.module.empty()) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        options.module = std::filesystem::path(self).parent_path() / L"ZntrLocation.dll";
    }
    return options;
}

// The classes the driver creates with CoCreateInstance and that the host provides.
std::vector<host::HostComponent> Components() {
    static std::vector<DWORD> platformCookies;
    return {
        {"Portable Devices values and collections",
         [](DWORD*) { return platform::RegisterPlatformClassObjects(&platformCookies); },
         [](DWORD) { return platform::RevokePlatformClassObjects(&platformCookies); }},
        {"sensor class extension", &host::RegisterSensorClassExtension,
         &host::RevokeSensorClassExtension},
    };
}

// Prints what reads of the device deliver, as it comes, until the count or time is reached or
// a stop is asked for; each read asks for what is left of the count, at most 4 KiB.
int PrintRawStream(client::DeviceChannel& file, const Options& options, tools::StopSignals& stop) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(options.duration);
    unsigned long total = 0;
    while (!stop.Wait(std::chrono::milliseconds(0))) {
        if (options.duration > 0 && std::chrono::steady_clock::now() - start >= limit) {
            break;
        }
        std::size_t ask = 4096;
        if (options.count > 0) {
            if (total >= options.count) {
                break;
            }
            ask = std::min<std::size_t>(ask, options.count - total);
        }
        const client::Completion completion = file.Read(ask);
        if (FAILED(completion.status)) {
            std::fprintf(stderr, "%s: a read failed with %s\n", kName,
                         host::StatusText(completion.status).c_str());
            return 1;
        }
        std::fwrite(completion.data.data(), 1, completion.data.size(), stdout);
        std::fflush(stdout);
        total += static_cast<unsigned long>(completion.data.size());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    // Bytes as they are: the raw stream must reach standard output unchanged, and the event
    // lines end with a line feed as those of the Linux tools do (no carriage return added).
    _setmode(_fileno(stdout), _O_BINARY);
    // Before any thread starts, as the console control handler is for the whole process.
    tools::StopSignals stop;

    host::FrameworkHostOptions hostOptions;
    hostOptions.modulePath = options.module;
    hostOptions.driverClass = CLSID_ZntrLocationDriver;
    hostOptions.deviceInstanceId = options.instanceId;
    hostOptions.components = Components();
    std::unique_ptr<host::FrameworkHost> framework;
    try {
        framework = host::FrameworkHost::Start(std::move(hostOptions));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", kName, error.what());
        return 1;
    }
    std::fprintf(stderr, "%s: %s loaded (framework version %lu.%lu), device %s started\n", kName,
                 options.module.string().c_str(), framework->Module().Version().MajorNumber,
                 framework->Module().Version().MinorNumber, options.instanceIdText.c_str());

    int status = 0;
    {
        std::unique_ptr<host::InProcessFile> file;
        const HRESULT opened = host::InProcessFile::Open(framework->Device(), &file);
        if (FAILED(opened)) {
            std::fprintf(stderr, "%s: the device did not open: %s\n", kName,
                         host::StatusText(opened).c_str());
            status = 1;
        } else if (options.events) {
            tools::WatchOptions watch;
            watch.name = kName;
            watch.output = options.json ? tools::WatchOutput::kJson : tools::WatchOutput::kLines;
            watch.count = static_cast<unsigned>(options.count);
            watch.durationSeconds = options.duration;
            status = tools::WatchSensor(*file, watch, stop, stdout);
        } else {
            status = PrintRawStream(*file, options, stop);
        }
    }
    // The file is closed: the last disconnect has ended the feed. Release and unload.
    if (options.holdAfterClose) {
        std::fprintf(stderr, "%s: the device's file is closed\n", kName);
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        }
    }
    const bool clean = framework->Stop();
    framework.reset();
    const bool unloaded = GetModuleHandleW(options.module.filename().wstring().c_str()) == nullptr;
    std::fprintf(stderr, "%s: stopped: %s, %s\n", kName,
                 clean ? "the hardware released and DllCanUnloadNow answered S_OK"
                       : "the stop was not clean (see above)",
                 unloaded ? "the module unloaded" : "the module is still loaded");
    return status != 0 ? status : (clean && unloaded ? 0 : 1);
}
