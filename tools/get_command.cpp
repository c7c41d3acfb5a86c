// zntr get: the sensor's properties and its data fields as they are now, readable or --json.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <variant>

#include "commands.h"
#include "device_open.h"
#include "event_json.h"
#include "sensor_client.h"
#include "sensor_key_names.h"
#include "standin/sensors.h"
#include "stop_signals.h"

namespace zntr::tools {
namespace {

using namespace std::chrono_literals;

struct GetOptions {
    std::string socket;
    bool json = false;
    double wait = 0.0;
};

// A value as the readable listing shows it: the state with its name, the PRNs as numbers.
std::string Readable(const sensor_message::KeyedValue& entry) {
    if (IsEqualPropertyKey(entry.key, SENSOR_PROPERTY_STATE) &&
        std::holds_alternative<std::uint32_t>(entry.value)) {
        const auto state = std::get<std::uint32_t>(entry.value);
        return std::to_string(state) + " (" + ShortStateName(state) + ")";
    }
    if (IsEqualPropertyKey(entry.key, SENSOR_DATA_TYPE_SATELLITES_USED_PRNS) &&
        std::holds_alternative<sensor_message::Bytes>(entry.value)) {
        return JsonValue(entry.key, entry.value).dump();
    }
    return client::FormatValue(entry.value);
}

void PrintReadable(const char* heading, const ValueList& values) {
    std::printf("%s\n", heading);
    for (const sensor_message::KeyedValue& entry : values) {
        std::printf("  %-34s %s\n", JsonKeyName(entry.key).c_str(), Readable(entry).c_str());
    }
}

std::uint32_t StateIn(const ValueList& properties) {
    const Value* state = sensor_message::FindValue(properties, SENSOR_PROPERTY_STATE);
    return state != nullptr && std::holds_alternative<std::uint32_t>(*state)
               ? std::get<std::uint32_t>(*state)
               : SENSOR_STATE_ERROR;
}

int RunGet(const GetOptions& options) {
    StopSignals stop;
    const auto file = OpenDevice("zntr get", options.socket);
    if (!file) {
        return 1;
    }
    try {
        client::SensorClient sensor(*file);
        const std::vector<PROPERTYKEY> propertyKeys = sensor.SupportedProperties();
        ValueList properties = sensor.GetProperties(propertyKeys).values;
        if (options.wait > 0) {
            // A connection starts the hotspot feed when no other client has; the fields fill
            // in with the first position.
            sensor.Connect();
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                      std::chrono::duration<double>(options.wait));
            while (StateIn(properties) != SENSOR_STATE_READY &&
                   std::chrono::steady_clock::now() < deadline && !stop.Wait(200ms)) {
                properties = sensor.GetProperties(propertyKeys).values;
            }
            if (StateIn(properties) != SENSOR_STATE_READY) {
                std::fprintf(stderr, "zntr get: the sensor is %s, not READY, after %g s\n",
                             ShortStateName(StateIn(properties)).c_str(), options.wait);
            }
        }
        const ValueList fields = sensor.GetDataFields(sensor.SupportedDataFields()).values;
        if (options.json) {
            nlohmann::ordered_json object;
            object["properties"] = JsonValues(properties);
            object["data"] = JsonValues(fields);
            std::printf("%s\n", object.dump().c_str());
        } else {
            PrintReadable("Properties", properties);
            PrintReadable("Data fields", fields);
        }
        if (options.wait > 0) {
            sensor.Disconnect();
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr get: %s\n", error.what());
        return 1;
    }
}

}  // namespace

void AddGetCommand(CLI::App& app) {
    auto options = std::make_shared<GetOptions>();
    CLI::App* command = app.add_subcommand(
        "get", "Print the sensor's properties and current data fields from a running host");
    AddSocketOption(*command, options->socket);
    command->add_flag("--json", options->json,
                      "One JSON object: {\"properties\":{...},\"data\":{...}}");
    command
        ->add_option("--wait", options->wait,
                     "Connect to the sensor (which starts the hotspot feed if no other client "
                     "has) and wait up to this many seconds for it to be READY")
        ->check(CLI::PositiveNumber);
    command->footer(
        "Names are the published key names without their SENSOR_PROPERTY_, SENSOR_DATA_TYPE_ "
        "or WPD_ prefix, in lower case. The data fields are what the sensor holds now: empty "
        "until a client connects and the first position arrives (see --wait).\n\n"
        "Examples:\n"
        "  zntr get\n"
        "  zntr get --wait 30 --json\n"
        "  zntr get --socket /tmp/zntr-test/host.sock");
    command->callback([options] { SetExitCode(RunGet(*options)); });
}

}  // namespace zntr::tools
