#include "sensor_client.h"

#include "standin/portabledevice.h"

namespace zntr::client {

namespace message = zntr::sensor_message;
using message::Command;

namespace {

const char* CommandName(Command command) {
    const message::CommandInfo* info = message::FindCommand(static_cast<std::uint16_t>(command));
    return info != nullptr ? info->name : "sensor request";
}

// The size an answer that did not fit asks for, or 0 when it asks for nothing sensible: no more
// than was offered, or more than any message may be.
std::size_t NeededBytes(const message::Answer& answer, std::size_t offered) {
    const std::size_t needed = message::kHeaderBytes + answer.neededBodyBytes;
    return needed > offered && needed <= message::kMaxMessageBytes ? needed : 0;
}

}  // namespace

SensorError::SensorError(const std::string& request, HRESULT status)
    : std::runtime_error(request + ": " + message::DescribeStatus(status)), status_(status) {}

SensorClient::SensorClient(DeviceChannel& channel) : channel_(channel) {}

SensorClient::~SensorClient() {
    try {
        if (events_.joinable()) {
            Unsubscribe();
        }
    } catch (const SensorError&) {
        // The disconnection below ends the events too; failing that, the channel has failed,
        // and so has the event thread's wait.
    }
    try {
        if (connected_) {
            Disconnect();
        }
    } catch (const SensorError&) {
        // Nothing more can be done from here; the host cleans up when the channel closes.
    }
    JoinEvents();
}

message::Answer SensorClient::Send(const message::Request& request) {
    const message::CommandInfo* info =
        message::FindCommand(static_cast<std::uint16_t>(request.command));
    const std::string name = CommandName(request.command);
    const std::vector<std::uint8_t> bytes = message::EncodeRequest(request);
    if (info == nullptr || bytes.empty()) {
        throw SensorError(name, message::kStatusMalformed);
    }
    const ULONG controlCode =
        info->changesSensor ? IOCTL_WPD_MESSAGE_READWRITE_ACCESS : IOCTL_WPD_MESSAGE_READ_ACCESS;
    std::size_t offered = kInitialAnswerBytes;
    for (;;) {
        const Completion completion = channel_.DeviceIoControl(controlCode, bytes, offered);
        if (FAILED(completion.status)) {
            throw SensorError(name, completion.status);
        }
        message::Answer answer;
        HRESULT hr = message::DecodeAnswer(completion.data, &answer);
        if (SUCCEEDED(hr) && answer.command != request.command) {
            hr = message::kStatusMalformed;
        }
        if (FAILED(hr)) {
            throw SensorError(name + " (its answer)", hr);
        }
        if (answer.status == message::kStatusBufferTooSmall) {
            offered = NeededBytes(answer, offered);
            if (offered == 0) {
                throw SensorError(name, message::kStatusBufferTooSmall);
            }
            continue;
        }
        if (FAILED(answer.status)) {
            throw SensorError(name, answer.status);
        }
        return answer;
    }
}

message::Request SensorClient::Named(Command command) {
    message::Request request;
    request.command = command;
    request.sensorId = SensorId();
    return request;
}

std::vector<ValueList> SensorClient::SupportedSensorObjects() {
    message::Request request;
    request.command = Command::kGetSupportedSensorObjects;
    return Send(request).valueLists;
}

const std::wstring& SensorClient::SensorId() {
    if (!sensorId_) {
        for (const ValueList& object : SupportedSensorObjects()) {
            const Value* id = sensor_message::FindValue(object, WPD_OBJECT_ID);
            if (id != nullptr && std::holds_alternative<std::wstring>(*id)) {
                sensorId_ = std::get<std::wstring>(*id);
                break;
            }
        }
        if (!sensorId_) {
            throw SensorError("find the sensor", message::kStatusUnknownSensor);
        }
    }
    return *sensorId_;
}

std::vector<PROPERTYKEY> SensorClient::SupportedProperties() {
    return Send(Named(Command::kGetSupportedProperties)).keys;
}

std::vector<PROPERTYKEY> SensorClient::SupportedDataFields() {
    return Send(Named(Command::kGetSupportedDataFields)).keys;
}

std::vector<GUID> SensorClient::SupportedEvents() {
    return Send(Named(Command::kGetSupportedEvents)).guids;
}

ValuesAnswer SensorClient::GetProperties(std::span<const PROPERTYKEY> keys) {
    message::Request request = Named(Command::kGetProperties);
    request.keys.assign(keys.begin(), keys.end());
    message::Answer answer = Send(request);
    return {answer.status, std::move(answer.values)};
}

ValuesAnswer SensorClient::GetDataFields(std::span<const PROPERTYKEY> keys) {
    message::Request request = Named(Command::kGetDataFields);
    request.keys.assign(keys.begin(), keys.end());
    message::Answer answer = Send(request);
    return {answer.status, std::move(answer.values)};
}

ValuesAnswer SensorClient::SetProperties(const ValueList& values) {
    message::Request request = Named(Command::kSetProperties);
    request.values = values;
    message::Answer answer = Send(request);
    return {answer.status, std::move(answer.values)};
}

HRESULT SensorClient::Connect() {
    const HRESULT status = Send(Named(Command::kConnect)).status;
    connected_ = true;
    return status;
}

HRESULT SensorClient::Disconnect() {
    const HRESULT status = Send(Named(Command::kDisconnect)).status;
    connected_ = false;
    // The class extension ended the subscription with the connection, and so the thread's wait.
    JoinEvents();
    return status;
}

HRESULT SensorClient::Subscribe(EventCallback callback) {
    const HRESULT status = Send(Named(Command::kSubscribe)).status;
    if (events_.joinable() && status == S_FALSE) {
        return status;  // the running thread keeps its callback
    }
    // A thread that ended on its own (its channel failed) is joined before a new one starts.
    JoinEvents();
    events_ = std::thread(&SensorClient::ReceiveEvents, this, std::move(callback));
    return status;
}

HRESULT SensorClient::Unsubscribe() {
    const HRESULT status = Send(Named(Command::kUnsubscribe)).status;
    // With the file's last subscription gone, the class extension ends the pending wait.
    JoinEvents();
    return status;
}

void SensorClient::JoinEvents() {
    if (events_.joinable() && events_.get_id() != std::this_thread::get_id()) {
        events_.join();
    }
}

// Keeps one wait pending at a time: each completed wait is an event (or the size an event
// needs), and the next wait goes out once the callback has had it. The loop ends at the first
// wait that fails, which is how the class extension says that no event will come.
void SensorClient::ReceiveEvents(EventCallback callback) {
    message::Request request;
    request.command = Command::kWaitForEvent;
    const std::vector<std::uint8_t> bytes = message::EncodeRequest(request);
    std::size_t offered = kInitialAnswerBytes;
    HRESULT ended = S_OK;
    while (SUCCEEDED(ended)) {
        const Completion completion =
            channel_.DeviceIoControl(IOCTL_WPD_MESSAGE_READ_ACCESS, bytes, offered);
        message::Answer answer;
        ended = FAILED(completion.status) ? completion.status
                                          : message::DecodeAnswer(completion.data, &answer);
        if (FAILED(ended)) {
            break;
        }
        if (answer.command != Command::kWaitForEvent) {
            ended = message::kStatusMalformed;
        } else if (answer.status == message::kStatusBufferTooSmall) {
            offered = NeededBytes(answer, offered);
            ended = offered == 0 ? message::kStatusBufferTooSmall : S_OK;
        } else if (FAILED(answer.status)) {
            ended = answer.status;
        } else {
            try {
                callback(SensorEvent::From(std::move(answer.event)));
            } catch (...) {
                // A callback's exception stays on this thread; the events go on.
            }
        }
    }
    try {
        callback(SensorEvent::Ended(ended));
    } catch (...) {
    }
}

}  // namespace zntr::client
