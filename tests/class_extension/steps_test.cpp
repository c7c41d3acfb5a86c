// The class extension's steps (tests/data/wire/class_extension.table): each row's outcome comes
// from its scenario replayed, from a fresh class extension with the fake sensor driver, up to and
// including the row, so that every row is a test of its own.
#include <map>

#include "class_extension_session.h"
#include "sensor_text.h"
#include "standin/sensors.h"

namespace zntr::test {
namespace {

using Microsoft::WRL::ComPtr;

struct Run {
    ClassExtensionSession session;
    std::map<std::string, ComPtr<zntr::host::FrameworkFile>> files;
    // Each request by the step that made it ("step 3"), and whether it is still pending.
    std::vector<std::pair<std::string, std::shared_ptr<SentRequest>>> sent;

    zntr::host::FrameworkFile* File(const std::string& name) {
        if (name == "-") {
            return nullptr;
        }
        ComPtr<zntr::host::FrameworkFile>& file = files[name];
        file = file ? file : session.NewFile(name);
        return file.Get();
    }
};

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The value of a "name=value" word of the step, or the fallback.
std::string Option(const std::vector<std::string>& words, const std::string& name,
                   const std::string& fallback) {
    for (const std::string& word : words) {
        if (word.rfind(name + "=", 0) == 0) {
            return word.substr(name.size() + 1);
        }
    }
    return fallback;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Completion(const SentRequest& sent) {
    if (!sent.Completed()) {
        return "pending";
    }
    return FAILED(sent.Status()) ? Status(sent.Status()) : AsAnswer(sent.Data());
}

// A request of the command as a client makes it.
Bytes Encoded(const std::string& command, const std::string& sensor) {
    message::Request request;
    for (const message::CommandInfo& info : message::kCommands) {
        request.command = command == info.name ? info.command : request.command;
    }
    request.sensorId = Wide(sensor);
    if (request.command == message::Command::kGetProperties) {
        request.keys = {SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_MODEL};
    } else if (request.command == message::Command::kGetDataFields) {
        request.keys = {SENSOR_DATA_TYPE_LATITUDE_DEGREES, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT};
    } else if (request.command == message::Command::kSetProperties) {
        request.values = {{SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, std::uint32_t{1000}}};
    }
    return message::EncodeRequest(request);
}

// Three events in one post; the second names no event.
HRESULT PostWithoutEventId(ISensorClassExtension& extension) {
    ComPtr<IPortableDeviceValuesCollection> collection;
    CoCreateInstance(CLSID_PortableDeviceValuesCollection, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IPortableDeviceValuesCollection,
                     reinterpret_cast<void**>(collection.GetAddressOf()));
    for (const double latitude : {1.0, 2.0, 3.0}) {
        ComPtr<IPortableDeviceValues> element;
        CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceValues,
                         reinterpret_cast<void**>(element.GetAddressOf()));
        if (latitude != 2.0) {
            element->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
        }
        element->SetFloatValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, static_cast<float>(latitude));
        collection->Add(element.Get());
    }
    std::wstring id = kFakeSensorId;
    return extension.PostEvent(id.data(), collection.Get());
}

std::string Step(Run& run, const std::vector<std::string>& words, const std::string& label) {
    const std::string& verb = words.at(0);
    const std::wstring sensor = Wide(Option(words, "sensor", "FakeSensor"));
    ClassExtensionSession& session = run.session;
    HRESULT hr = S_OK;
    if (verb == "post-data") {  // a latitude, or each of FROM..TO
        const std::size_t dots = words.at(1).find("..");
        const int from = std::stoi(words[1]);
        const int to = dots == std::string::npos ? from : std::stoi(words[1].substr(dots + 2));
        for (int latitude = from; latitude <= to && SUCCEEDED(hr); ++latitude) {
            hr = session.PostData(dots == std::string::npos ? std::stod(words[1]) : latitude,
                                  sensor);
        }
    } else if (verb == "post-state") {
        hr = session.PostState(static_cast<SensorState>(std::stoi(words.at(1))), sensor);
    } else if (verb == "post-without-event-id") {
        hr = PostWithoutEventId(session.Extension());
    } else if (verb == "cleanup") {
        hr = session.Extension().CleanupFile(run.File(words.at(1)));
    } else if (verb == "uninitialize") {
        hr = session.Extension().Uninitialize();
    } else if (verb == "initialize") {
        hr = session.Extension().Initialize(session.Device(), &session.Driver());
    } else if (verb == "answer") {  // the driver's answer to a method from now on
        session.Driver().calls.SetAnswer(words.at(1), std::stol(words.at(2), nullptr, 16));
    } else if (verb == "friendly-name") {  // N characters, or a lone surrogate
        session.Driver().friendlyName = words.at(1) == "surrogate"
                                            ? std::wstring(1, wchar_t(0xD800))
                                            : std::wstring(std::stoul(words[1]), L'n');
    } else {  // FILE COMMAND or FILE raw NAME, then the options
        const bool raw = words.at(1) == "raw";
        const Bytes bytes =
            raw ? ReadBytes(kWire / "sensor" / words.at(2))
                : Encoded(words[1], Option(words, "sensor",
                                           words[1] == "wait-for-event" ? "" : "FakeSensor"));
        const bool readOnly = std::find(words.begin(), words.end(), "read-only") != words.end();
        const ULONG code =
            std::stoul(Option(words, "code",
                              std::to_string(readOnly ? IOCTL_WPD_MESSAGE_READ_ACCESS
                                                      : IOCTL_WPD_MESSAGE_READWRITE_ACCESS)),
                       nullptr, 0);
        run.sent.emplace_back(label, session.Send(run.File(verb), bytes,
                                                  std::stoul(Option(words, "out", "4096")), code));
        return Completion(*run.sent.back().second);
    }
    return Status(hr);
}

}  // namespace

std::vector<std::string> RunScenarioStep(const Table& table, const TableRow& row) {
    auto last = std::find_if(table.rows.begin(), table.rows.end(),
                             [&](const TableRow& r) { return r.line == row.line; });
    auto first = last;
    while (first != table.rows.begin() && (first - 1)->cells[0] == row[0]) {
        --first;
    }
    Run run;
    std::vector<std::string> outcome;
    for (auto step = first; step <= last; ++step) {
        std::vector<bool> pending;
        for (const auto& [label, sent] : run.sent) {
            pending.push_back(!sent->Completed());
        }
        const std::size_t callsBefore = run.session.Driver().calls.Calls().size();
        const std::string result =
            Step(run, Words((*step)[1]), "step " + std::to_string(step - first + 1));
        std::string ended;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (pending[i] && run.sent[i].second->Completed()) {
                ended += (ended.empty() ? "" : "; ") + run.sent[i].first + ": " +
                         Completion(*run.sent[i].second);
            }
        }
        std::string calls;
        const std::vector<std::string> all = run.session.Driver().calls.Calls();
        for (std::size_t i = callsBefore; i < all.size(); ++i) {
            calls += (calls.empty() ? "" : " ") + all[i];
        }
        outcome = {std::to_string(run.session.Driver().Clients()) + " / " +
                       std::to_string(run.session.Driver().Subscribers()),
                   calls, ended, result};
    }
    return outcome;
}

}  // namespace zntr::test
