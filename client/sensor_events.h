// The sensor's events as a program receives them, and a queue to collect them in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "sensor_message.h"

namespace zntr::client {

struct SensorEvent {
    enum class Kind {
        kDataUpdated,   // SENSOR_EVENT_DATA_UPDATED: the data fields at the moment of posting
        kStateChanged,  // SENSOR_EVENT_STATE_CHANGED: the new state
        kOther,         // an event of another kind
        kEnded,         // no more events will come; status says why
    };
    Kind kind = Kind::kOther;
    std::wstring sensorId;
    GUID eventId{};
    // As posted: SENSOR_EVENT_PARAMETER_EVENT_ID first, then the data fields or the state.
    sensor_message::ValueList parameters;
    // The SensorState of a state-changed event.
    std::optional<std::uint32_t> state;
    // Events the class extension dropped before this one because this client fell behind.
    std::uint32_t droppedBefore = 0;
    // For kEnded: sensor_message::kStatusEnded after an unsubscription, a disconnection, the
    // device going away or the file closing; another failure when the host connection broke.
    HRESULT status = S_OK;

    const sensor_message::Value* Find(const PROPERTYKEY& key) const {
        return sensor_message::FindValue(parameters, key);
    }

    // The event a wait delivered, sorted by kind.
    static SensorEvent From(sensor_message::Event event);
    static SensorEvent Ended(HRESULT status);
};

using EventCallback = std::function<void(const SensorEvent& event)>;

// Events collected for a reader on another thread. It holds at most `limit` events; past that
// the oldest goes. Safe to use from several threads.
class EventQueue {
  public:
    explicit EventQueue(std::size_t limit = 1024) : limit_(limit) {}

    void Push(SensorEvent event);
    // A callback that pushes into this queue; the queue must outlive the subscription.
    EventCallback Callback() {
        return [this](const SensorEvent& event) { Push(event); };
    }
    // The oldest event, waiting at most `timeout` for one.
    std::optional<SensorEvent> Next(std::chrono::milliseconds timeout);

  private:
    const std::size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<SensorEvent> events_;
};

}  // namespace zntr::client
