// The sensor messages and the class extension, for the tables of tests/data/wire (registered with
// the host's in host_test.cpp, whose program these tests are part of): what the files of sensor/
// decode to as a request or an answer (requests.table, answers.table), and the scenarios of
// class_extension.table, run against the real class extension with the fake sensor driver
// (requests of client files, posts, cleanups): each step's outcome, the driver's calls and its
// client counts. And the class extension under several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "fake_sensor_driver.h"
#include "sensor_key_names.h"
#include "sensor_message.h"
#include "standin/sensors.h"
#include "wire_tables.h"

namespace zntr::test {
namespace {

namespace message = zntr::sensor_message;

std::string Status(HRESULT status) {
    const std::string text = message::DescribeStatus(status);
    const std::string name = text.substr(0, text.find(' '));
    return name.back() == ':' ? name.substr(0, name.size() - 1) : name;
}

std::string Keys(const std::vector<PROPERTYKEY>& keys) {
    std::string text;
    for (const PROPERTYKEY& key : keys) {
        text += (text.empty() ? "" : ", ") + zntr::client::KeyName(key);
    }
    return " [" + text + "]";
}

std::string Values(const message::ValueList& values) {
    std::string text;
    for (const message::KeyedValue& entry : values) {
        const auto* text16 = std::get_if<std::wstring>(&entry.value);
        const auto* guid = std::get_if<GUID>(&entry.value);
        text += (text.empty() ? "" : ", ") + zntr::client::KeyName(entry.key) + "=" +
                (text16 != nullptr ? "\"" + zntr::client::Utf8(*text16) + "\""
                 : guid != nullptr ? zntr::client::EventName(*guid)
                                   : zntr::client::FormatValue(entry.value));
    }
    return " [" + text + "]";
}

std::string CommandName(message::Command command) {
    const message::CommandInfo* info = message::FindCommand(static_cast<std::uint16_t>(command));
    return info != nullptr ? info->name : "#" + std::to_string(static_cast<int>(command));
}

struct Run {
    ClassExtensionSession session;
    std::map<std::string, ComPtr<zntr::host::FrameworkFile>> files;
    std::vector<std::pair<std::string, std::shared_ptr<SentRequest>>> sent;  // by step

    zntr::host::FrameworkFile* File(const std::string& name) {
        auto& file = files[name];
        file = file || name == "-" ? file : session.NewFile(name);
        return file.Get();
    }
};

// The value of the step's "name=value" word, or the fallback.
std::string Option(const std::vector<std::string>& words, const std::string& name,
                   const std::string& fallback) {
    for (const std::string& word : words) {
        if (word.rfind(name + "=", 0) == 0) {
            return word.substr(name.size() + 1);
        }
    }
    return fallback;
}

std::string Completion(const SentRequest& sent) {
    const auto result = sent.Result();
    return !result                  ? "pending"
           : FAILED(result->status) ? Status(result->status)
                                    : AsAnswer(result->data);
}

// A request of the command as a client makes it.
Bytes Encoded(const std::string& command, const std::string& sensor) {
    message::Request request{
        message::Command::kConnect, std::wstring(sensor.begin(), sensor.end()), {}, {}};
    for (const message::CommandInfo& info : message::kCommands) {
        request.command = command == info.name ? info.command : request.command;
    }
    if (request.command == message::Command::kGetProperties) {
        request.keys = {SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_MODEL};
    } else if (request.command == message::Command::kGetDataFields) {
        request.keys = {SENSOR_DATA_TYPE_LATITUDE_DEGREES, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT};
    } else if (request.command == message::Command::kSetProperties) {
        request.values = {{SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, std::uint32_t{1000}}};
    }
    return message::EncodeRequest(request);
}

// The step's own outcome: a request's completion, or an action's HRESULT.
std::string Step(Run& run, const std::vector<std::string>& words, const std::string& label) {
    ClassExtensionSession& session = run.session;
    const std::string& verb = words.at(0);
    const std::string sensor = Option(words, "sensor", "FakeSensor");
    HRESULT hr = S_OK;
    if (verb == "post-data") {  // a latitude, or each of FROM..TO
        const std::size_t dots = words.at(1).find("..");
        const double from = std::stod(words[1]);
        const double to = dots == std::string::npos ? from : std::stod(words[1].substr(dots + 2));
        for (double latitude = from; latitude <= to && SUCCEEDED(hr); ++latitude) {
            hr = session.PostData(latitude, std::wstring(sensor.begin(), sensor.end()));
        }
    } else if (verb == "post-state") {
        hr = session.PostState(static_cast<SensorState>(std::stoi(words.at(1))),
                               std::wstring(sensor.begin(), sensor.end()));
    } else if (verb == "post-without-event-id") {
        const auto latitude = [](double degrees) {
            return message::KeyedValue{SENSOR_DATA_TYPE_LATITUDE_DEGREES, degrees};
        };
        const message::KeyedValue updated{SENSOR_EVENT_PARAMETER_EVENT_ID,
                                          SENSOR_EVENT_DATA_UPDATED};
        hr = session.Post({{updated, latitude(1)}, {latitude(2)}, {updated, latitude(3)}});
    } else if (verb == "cleanup") {
        hr = session.Extension().CleanupFile(run.File(words.at(1)));
    } else if (verb == "uninitialize") {
        hr = session.Extension().Uninitialize();
    } else if (verb == "initialize") {
        hr = session.Extension().Initialize(session.Device(), &session.Driver());
    } else if (verb == "answer") {
        session.Driver().calls.SetAnswer(words.at(1), std::stol(words.at(2), nullptr, 16));
    } else if (verb == "friendly-name") {
        session.Driver().friendlyName = words.at(1) == "surrogate"
                                            ? std::wstring(1, wchar_t(0xD800))
                                            : std::wstring(std::stoul(words[1]), L'n');
    } else {  // FILE COMMAND or FILE raw NAME, then the options
        const bool raw = words.at(1) == "raw";
        const bool wait = words[1] == "wait-for-event";
        const Bytes bytes = raw ? ReadBytes(kWire / "sensor" / words.at(2))
                                : Encoded(words[1], Option(words, "sensor", wait ? "" : sensor));
        const bool readOnly = std::find(words.begin(), words.end(), "read-only") != words.end();
        const ULONG code =
            std::stoul(Option(words, "code",
                              std::to_string(readOnly ? IOCTL_WPD_MESSAGE_READ_ACCESS
                                                      : IOCTL_WPD_MESSAGE_READWRITE_ACCESS)),
                       nullptr, 0);
        const std::size_t out = std::stoul(Option(words, "out", "4096"));
        run.sent.emplace_back(label, session.Send(run.File(verb), bytes, out, code));
        return Completion(*run.sent.back().second);
    }
    return Status(hr);
}

}  // namespace

std::string AsRequest(const Bytes& bytes) {
    message::Request r;
    const HRESULT hr = message::DecodeRequest(bytes, &r);
    if (FAILED(hr)) {
        return Status(hr);
    }
    std::string text = CommandName(r.command) + " \"" + zntr::client::Utf8(r.sensorId) + "\"";
    text += r.keys.empty() ? "" : Keys(r.keys);
    text += r.values.empty() ? "" : Values(r.values);
    return text;
}

std::string AsAnswer(const Bytes& bytes) {
    message::Answer a;
    const HRESULT hr = message::DecodeAnswer(bytes, &a);
    if (FAILED(hr)) {
        return Status(hr);
    }
    std::string text = CommandName(a.command) + " " + Status(a.status);
    if (a.status == message::kStatusBufferTooSmall) {
        return text + " needs " + std::to_string(a.neededBodyBytes);
    }
    for (const message::ValueList& list : a.valueLists) {
        text += Values(list);
    }
    text += a.keys.empty() ? "" : Keys(a.keys);
    for (const GUID& guid : a.guids) {
        text += " " + zntr::client::EventName(guid);
    }
    text += a.values.empty() ? "" : Values(a.values);
    if (a.command == message::Command::kWaitForEvent && SUCCEEDED(a.status)) {
        text += " dropped " + std::to_string(a.event.droppedBefore) + " \"" +
                zntr::client::Utf8(a.event.sensorId) + "\" " +
                zntr::client::EventName(a.event.eventId) + Values(a.event.parameters);
    }
    return text;
}

// Every step's outcome: counts, the driver's calls, the earlier requests it completed, its own.
Outcomes RunClassExtensionScenario(const std::vector<std::string>& steps) {
    Run run;
    Outcomes outcomes;
    for (const std::string& step : steps) {
        std::vector<bool> pending;
        for (const auto& [label, sent] : run.sent) {
            pending.push_back(!sent->Completed());
        }
        const std::size_t before = run.session.Driver().calls.Calls().size();
        std::istringstream text(step);
        const std::vector<std::string> words{std::istream_iterator<std::string>(text), {}};
        const std::string result = Step(run, words, "step " + std::to_string(outcomes.size() + 1));
        std::string ended;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (pending[i] && run.sent[i].second->Completed()) {
                ended += (ended.empty() ? "" : "; ") + run.sent[i].first + ": " +
                         Completion(*run.sent[i].second);
            }
        }
        outcomes.push_back({std::to_string(run.session.Driver().Clients()) + " / " +
                                std::to_string(run.session.Driver().Subscribers()),
                            CallsSince(run.session.Driver().calls, before), ended, result});
    }
    return outcomes;
}

// The class extension under several threads at once, as the framework's parallel dispatch and the
// driver's event thread use it (run under the thread sanitizer too): whatever the interleaving,
// every request is completed exactly once, the driver's counts come back to zero, and a cleanup
// or an Uninitialize that comes while a driver call runs waits for it and undoes it.
namespace {

using message::Command;

std::vector<std::uint8_t> Request(Command command, std::wstring sensor = kFakeSensorId) {
    return message::EncodeRequest(message::Request{command, std::move(sensor), {}, {}});
}

TEST(ClassExtensionConcurrency, ClientsComingAndGoingWhileEventsArePostedLeaveNothingBehind) {
    ClassExtensionSession session;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        for (int i = 0; !stop; ++i) {
            session.PostData(i);
            session.PostState(i % 2 == 0 ? SENSOR_STATE_READY : SENSOR_STATE_INITIALIZING);
        }
    });
    std::mutex sentMutex;
    std::vector<std::shared_ptr<SentRequest>> sent;
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (int round = 0; round < 40; ++round) {
                const auto file = session.NewFile("c" + std::to_string(c));
                std::vector<std::shared_ptr<SentRequest>> mine;
                for (const Command command :
                     {Command::kConnect, Command::kSubscribe, Command::kGetProperties,
                      Command::kWaitForEvent, Command::kWaitForEvent}) {
                    mine.push_back(session.Send(file.Get(), Request(command)));
                }
                // A third of the clients just go away; the rest leave properly first.
                if ((round + c) % 3 != 0) {
                    mine.push_back(session.Send(file.Get(), Request(Command::kUnsubscribe)));
                    mine.push_back(session.Send(file.Get(), Request(Command::kDisconnect)));
                }
                session.Extension().CleanupFile(file.Get());
                std::lock_guard<std::mutex> lock(sentMutex);
                sent.insert(sent.end(), mine.begin(), mine.end());
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    stop = true;
    poster.join();
    EXPECT_EQ(session.Driver().Clients(), 0);
    EXPECT_EQ(session.Driver().Subscribers(), 0);
    for (const auto& request : sent) {
        EXPECT_TRUE(request->Completed());
    }
    EXPECT_EQ(session.Driver().calls.Count("HostError"), 0u) << "a request completed twice";
}

// A cleanup, and then an Uninitialize, each arriving while a connect is inside the driver: each
// waits for the connect and takes the connection back, so the driver is left with no client.
TEST(ClassExtensionConcurrency, ACleanupOrUninitializeDuringAConnectUndoesIt) {
    ClassExtensionSession session;
    CallRecorder& calls = session.Driver().calls;
    for (const bool uninitialize : {false, true}) {
        const auto file = session.NewFile("a");
        calls.CloseGate("OnClientConnect");
        auto connect = std::async(std::launch::async, [&] {
            return session.Send(file.Get(), Request(Command::kConnect));
        });
        EXPECT_TRUE(calls.WaitForCalls("OnClientConnect", uninitialize ? 2 : 1));
        auto undo = std::async(std::launch::async, [&] {
            return uninitialize ? session.Extension().Uninitialize()
                                : session.Extension().CleanupFile(file.Get());
        });
        calls.OpenGate("OnClientConnect");
        message::Answer answer;
        EXPECT_EQ(message::DecodeAnswer(connect.get()->Result().value().data, &answer), S_OK);
        EXPECT_EQ(answer.status, S_OK) << "connected, then taken back";
        EXPECT_EQ(undo.get(), S_OK);
        EXPECT_EQ(session.Driver().Clients(), 0) << (uninitialize ? "Uninitialize" : "cleanup");
    }
}

}  // namespace
}  // namespace zntr::test
