#include "sensor_events.h"

#include "standin/sensors.h"

namespace zntr::client {

namespace message = zntr::sensor_message;

SensorEvent SensorEvent::From(message::Event event) {
    SensorEvent received;
    received.sensorId = std::move(event.sensorId);
    received.eventId = event.eventId;
    received.parameters = std::move(event.parameters);
    received.droppedBefore = event.droppedBefore;
    if (IsEqualGUID(received.eventId, SENSOR_EVENT_DATA_UPDATED)) {
        received.kind = Kind::kDataUpdated;
    } else if (IsEqualGUID(received.eventId, SENSOR_EVENT_STATE_CHANGED)) {
        received.kind = Kind::kStateChanged;
        const message::Value* state = received.Find(SENSOR_EVENT_PARAMETER_STATE);
        if (state != nullptr && std::holds_alternative<std::uint32_t>(*state)) {
            received.state = std::get<std::uint32_t>(*state);
        }
    }
    return received;
}

SensorEvent SensorEvent::Ended(HRESULT status) {
    SensorEvent ended;
    ended.kind = Kind::kEnded;
    ended.status = status;
    return ended;
}

void EventQueue::Push(SensorEvent event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        if (events_.size() > limit_) {
            events_.pop_front();
        }
    }
    arrived_.notify_all();
}

std::optional<SensorEvent> EventQueue::Next(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    SensorEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

}  // namespace zntr::client
