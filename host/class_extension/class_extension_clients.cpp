// The class extension's clients: each file's connections and subscriptions, kept in step with the
// driver's client callbacks, and undone when the file is cleaned up.
#include "class_extension.h"

namespace zntr::host {

namespace message = zntr::sensor_message;

HRESULT SensorClassExtension::Connect(ClientFile& file, const std::wstring& sensorId) {
    std::lock_guard<std::mutex> operation(file.operationLock);
    if (files_.Removed(file)) {
        return message::kStatusEnded;
    }
    if (files_.Link(file, sensorId).connected) {
        return S_FALSE;  // one connection per file and sensor
    }
    DriverCall driver(*this);
    if (!driver) {
        return message::kStatusNotReady;
    }
    std::wstring id = sensorId;
    const HRESULT hr = driver->OnClientConnect(file.file.Get(), id.data());
    if (SUCCEEDED(hr)) {
        files_.SetConnected(file, sensorId, true);
    }
    return hr;
}

HRESULT SensorClassExtension::Disconnect(ClientFile& file, const std::wstring& sensorId) {
    Deliveries deliveries;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> operation(file.operationLock);
        const SensorLink link = files_.Link(file, sensorId);
        if (!link.connected) {
            return message::kStatusWrongState;
        }
        DriverCall driver(*this);
        if (!driver) {
            return message::kStatusNotReady;
        }
        // Leaving takes the subscription with it.
        if (link.subscribed) {
            EndSubscription(driver, file, sensorId, &deliveries);
        }
        hr = EndConnection(driver, file, sensorId);
    }
    Complete(deliveries);
    return hr;
}

HRESULT SensorClassExtension::Subscribe(ClientFile& file, const std::wstring& sensorId) {
    std::lock_guard<std::mutex> operation(file.operationLock);
    if (files_.Removed(file)) {
        return message::kStatusEnded;
    }
    const SensorLink link = files_.Link(file, sensorId);
    if (!link.connected) {
        return message::kStatusWrongState;  // only a connected client can subscribe
    }
    if (link.subscribed) {
        return S_FALSE;
    }
    DriverCall driver(*this);
    if (!driver) {
        return message::kStatusNotReady;
    }
    std::wstring id = sensorId;
    const HRESULT hr = driver->OnClientSubscribeToEvents(file.file.Get(), id.data());
    if (SUCCEEDED(hr)) {
        Deliveries none;
        files_.SetSubscribed(file, sensorId, true, &none);
    }
    return hr;
}

HRESULT SensorClassExtension::Unsubscribe(ClientFile& file, const std::wstring& sensorId) {
    Deliveries deliveries;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> operation(file.operationLock);
        if (!files_.Link(file, sensorId).subscribed) {
            return message::kStatusWrongState;
        }
        DriverCall driver(*this);
        if (!driver) {
            return message::kStatusNotReady;
        }
        hr = EndSubscription(driver, file, sensorId, &deliveries);
    }
    Complete(deliveries);
    return hr;
}

// The file no longer counts as subscribed whatever the driver answers: a subscription the
// driver refuses to end could never be ended at all.
HRESULT SensorClassExtension::EndSubscription(DriverCall& driver, ClientFile& file,
                                              const std::wstring& sensorId,
                                              Deliveries* deliveries) {
    std::wstring id = sensorId;
    const HRESULT hr = driver->OnClientUnsubscribeFromEvents(file.file.Get(), id.data());
    files_.SetSubscribed(file, sensorId, false, deliveries);
    return hr;
}

HRESULT SensorClassExtension::EndConnection(DriverCall& driver, ClientFile& file,
                                            const std::wstring& sensorId) {
    std::wstring id = sensorId;
    const HRESULT hr = driver->OnClientDisconnect(file.file.Get(), id.data());
    files_.SetConnected(file, sensorId, false);
    return hr;
}

void SensorClassExtension::Unlink(ClientFile& file) {
    Deliveries deliveries;
    {
        std::lock_guard<std::mutex> operation(file.operationLock);
        DriverCall driver(*this);
        if (!driver) {
            return;
        }
        for (const auto& [sensorId, link] : files_.Links(file)) {
            if (link.subscribed) {
                EndSubscription(driver, file, sensorId, &deliveries);
            }
            if (link.connected) {
                EndConnection(driver, file, sensorId);
            }
        }
    }
    Complete(deliveries);
}

HRESULT SensorClassExtension::CleanupFile(IWDFFile* pWdfFile) {
    if (pWdfFile == nullptr) {
        return E_POINTER;
    }
    Deliveries deliveries;
    const std::shared_ptr<ClientFile> file = files_.Remove(pWdfFile, &deliveries);
    Complete(deliveries);
    if (file) {
        Unlink(*file);
    }
    return S_OK;
}

}  // namespace zntr::host
