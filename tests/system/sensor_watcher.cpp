// A sensor client as its own process, for the system tests: it opens the device at the host's
// socket, connects to the sensor, subscribes, and prints one line per event on standard output
// ("state N", "data LATITUDE LONGITUDE", "ended 0xSTATUS"), flushed at once so that the test can
// follow it. SIGINT or SIGTERM makes it unsubscribe, disconnect and print "left"; a test that
// wants it to die without leaving kills it.
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <variant>

#include "device_file.h"
#include "sensor_client.h"
#include "standin/sensors.h"

namespace {

using zntr::client::SensorEvent;

void Print(const SensorEvent& event) {
    switch (event.kind) {
        case SensorEvent::Kind::kStateChanged:
            std::printf("state %u\n", event.state.value_or(~0u));
            break;
        case SensorEvent::Kind::kDataUpdated: {
            const auto* latitude = event.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
            const auto* longitude = event.Find(SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
            const bool both = latitude != nullptr && longitude != nullptr &&
                              std::holds_alternative<double>(*latitude) &&
                              std::holds_alternative<double>(*longitude);
            if (both) {
                std::printf("data %.6f %.6f\n", std::get<double>(*latitude),
                            std::get<double>(*longitude));
            } else {
                std::printf("data without position\n");
            }
            break;
        }
        case SensorEvent::Kind::kEnded:
            std::printf("ended 0x%08X\n", static_cast<unsigned>(event.status));
            break;
        case SensorEvent::Kind::kOther:
            std::printf("other\n");
            break;
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
        return 2;
    }
    // Blocked before any thread starts, so that only the wait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        const std::unique_ptr<zntr::client::DeviceFile> file =
            zntr::client::DeviceFile::Open(argv[1]);
        zntr::client::SensorClient sensor(*file);
        sensor.Connect();
        sensor.Subscribe(Print);
        std::printf("subscribed\n");
        std::fflush(stdout);
        int signal = 0;
        sigwait(&signals, &signal);
        sensor.Unsubscribe();
        sensor.Disconnect();
        std::printf("left\n");
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sensor watcher: %s\n", error.what());
        return 1;
    }
}
