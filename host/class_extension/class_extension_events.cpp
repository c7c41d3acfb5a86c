// The class extension's events: what the driver posts becomes one event message per event, for
// every file subscribed to the sensor.
#include "class_extension.h"
#include "portable_values.h"
#include "request_io.h"

namespace zntr::host {

namespace message = zntr::sensor_message;

HRESULT SensorClassExtension::PostEvent(LPWSTR pwszSensorID,
                                        IPortableDeviceValuesCollection* pEventCollection) {
    if (pwszSensorID == nullptr || pEventCollection == nullptr) {
        return E_POINTER;
    }
    // Copied out now: the driver reuses its collections once the call returns.
    std::vector<message::ValueList> elements;
    HRESULT hr = ReadValueLists(pEventCollection, &elements);
    if (FAILED(hr)) {
        return hr;
    }
    for (message::ValueList& parameters : elements) {
        // Each element names its event in SENSOR_EVENT_PARAMETER_EVENT_ID; one that does not
        // is not posted.
        const message::Value* eventId =
            message::FindValue(parameters, SENSOR_EVENT_PARAMETER_EVENT_ID);
        if (eventId == nullptr || !std::holds_alternative<GUID>(*eventId)) {
            hr = E_INVALIDARG;
            continue;
        }
        const GUID id = std::get<GUID>(*eventId);
        const HRESULT posted = Post(pwszSensorID, {0, pwszSensorID, id, std::move(parameters)});
        hr = FAILED(posted) ? posted : hr;
    }
    return hr;
}

HRESULT SensorClassExtension::PostStateChange(LPWSTR pwszSensorID, SensorState state) {
    if (pwszSensorID == nullptr) {
        return E_POINTER;
    }
    message::ValueList parameters = {
        {SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_STATE_CHANGED},
        {SENSOR_EVENT_PARAMETER_STATE, static_cast<std::uint32_t>(state)},
    };
    return Post(pwszSensorID, {0, pwszSensorID, SENSOR_EVENT_STATE_CHANGED, std::move(parameters)});
}

HRESULT SensorClassExtension::Post(const std::wstring& sensorId, message::Event event) {
    {
        std::lock_guard<std::mutex> lock(driverLock_);
        if (!driver_) {
            return message::kStatusNotReady;
        }
    }
    auto posted = std::make_shared<PostedEvent>();
    posted->event = std::move(event);
    message::Answer answer;
    answer.command = message::Command::kWaitForEvent;
    answer.event = posted->event;
    posted->answerBytes = message::EncodeAnswer(answer).size();
    if (posted->answerBytes == 0) {
        return message::kStatusUnencodable;
    }
    Deliveries deliveries;
    files_.Post(sensorId, posted, &deliveries);
    Complete(deliveries);
    return S_OK;
}

void SensorClassExtension::Complete(Deliveries& deliveries) {
    for (Delivery& delivery : deliveries) {
        if (delivery.event) {
            message::Answer answer;
            answer.command = message::Command::kWaitForEvent;
            answer.event = delivery.event->event;
            answer.event.droppedBefore = delivery.droppedBefore;
            // One that does not fit becomes the header naming the size it needs.
            CompleteWithAnswer(delivery.request.Get(), message::EncodeAnswer(answer));
        } else {
            CompleteWithRefusal(delivery.request.Get(), delivery.status);
        }
    }
    deliveries.clear();
}

}  // namespace zntr::host
