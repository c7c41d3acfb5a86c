// A program's side of the sensor: the sensor requests, sent as sensor messages through any open
// device channel, with typed answers, and the sensor's events, received by a thread that keeps
// one wait for an event pending.
//
// A request that fails throws SensorError, which names the request, the status and what the
// status means. Requests and the event thread share the channel; the SensorClient itself is for
// one thread at a time (the event callback runs on its own thread and may not use the client).
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// HRESULT first: device_channel.h uses it without declaring it.
#include "standin/winerror.h"

#include "device_channel.h"
#include "sensor_events.h"
#include "sensor_message.h"

namespace zntr::client {

using sensor_message::Value;
using sensor_message::ValueList;

class SensorError : public std::runtime_error {
  public:
    SensorError(const std::string& request, HRESULT status);
    HRESULT Status() const { return status_; }

  private:
    HRESULT status_;
};

// The values a query gave, in the driver's order, and the status it answered with: S_OK, or
// S_FALSE when some key carries a VT_ERROR value instead of its value.
struct ValuesAnswer {
    HRESULT status = S_OK;
    ValueList values;

    const Value* Find(const PROPERTYKEY& key) const {
        return sensor_message::FindValue(values, key);
    }
};

class SensorClient {
  public:
    explicit SensorClient(DeviceChannel& channel);
    // Stops the events and disconnects, if this client subscribed or connected; never throws.
    ~SensorClient();
    SensorClient(const SensorClient&) = delete;
    SensorClient& operator=(const SensorClient&) = delete;

    // Each sensor object the driver reports, with every property it supports.
    std::vector<ValueList> SupportedSensorObjects();
    // The sensor the requests below name: the first sensor object's WPD_OBJECT_ID (asked for
    // once).
    const std::wstring& SensorId();

    std::vector<PROPERTYKEY> SupportedProperties();
    std::vector<PROPERTYKEY> SupportedDataFields();
    std::vector<GUID> SupportedEvents();
    ValuesAnswer GetProperties(std::span<const PROPERTYKEY> keys);
    ValuesAnswer GetDataFields(std::span<const PROPERTYKEY> keys);
    // The per-key results of the attempt.
    ValuesAnswer SetProperties(const ValueList& values);

    // S_OK, or S_FALSE when this file already was connected (subscribed).
    HRESULT Connect();
    // Ends the subscription too, and with it the events.
    HRESULT Disconnect();
    // Subscribes and starts the event thread, which hands every event to the callback, and
    // last an event of kind kEnded. While the thread runs, a further Subscribe keeps the first
    // callback.
    HRESULT Subscribe(EventCallback callback);
    // Unsubscribes and waits for the event thread to end (unless called from the callback).
    HRESULT Unsubscribe();

    // The first answer buffer offered; a larger one is offered when the answer says it needs it.
    static constexpr std::size_t kInitialAnswerBytes = 4096;

  private:
    sensor_message::Answer Send(const sensor_message::Request& request);
    sensor_message::Request Named(sensor_message::Command command);
    void ReceiveEvents(EventCallback callback);
    void JoinEvents();

    DeviceChannel& channel_;
    std::optional<std::wstring> sensorId_;
    bool connected_ = false;
    std::thread events_;
};

}  // namespace zntr::client
