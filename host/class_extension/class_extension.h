// The sensor class extension object (ISensorClassExtension).
//
// Threads: the framework's dispatch threads call ProcessIoControl and CleanupFile, several at
// once; the driver's event thread calls PostEvent and PostStateChange; the device's release calls
// Uninitialize. Three kinds of lock, never taken in the other order:
//   1. a file's operationLock, held across the driver's client callbacks for that file (which
//      take the driver's mSensorLock inside);
//   2. driverLock_, guarding the driver pointer, the sensor list and the count of driver calls
//      under way; never held while the driver runs;
//   3. the client-file table's lock, never held while the driver runs or a request completes.
// The driver's client callbacks never call the class extension, and its posts come without
// mSensorLock held, so no cycle through mSensorLock can form.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client_files.h"
#include "sensor_message.h"
#include "standin/com_helpers.h"
#include "standin/sensorsclassextension.h"
#include "standin/wrl_client.h"

namespace zntr::host {

class SensorClassExtension final : public zntr::platform::ComObject<ISensorClassExtension> {
  public:
    // Keeps the framework device and the driver's ISensorDriver until Uninitialize. A second
    // Initialize without an Uninitialize between fails with E_UNEXPECTED.
    HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pWdfDeviceUnknown,
                                         IUnknown* pSensorDriverUnknown) override;
    // Lets the driver go once the calls into it under way have returned; every connected file
    // is unsubscribed and disconnected first, and every pending wait ends. No callback arrives
    // afterwards.
    HRESULT STDMETHODCALLTYPE Uninitialize() override;
    // Decodes the sensor message in the request, calls the driver and completes the request with
    // the answer; a wait for an event may stay pending. Every request it is given is completed
    // exactly once (E_POINTER for none, when there is nothing to complete).
    HRESULT STDMETHODCALLTYPE ProcessIoControl(IWDFIoRequest* pRequest) override;
    // One event per element of the collection, to every file subscribed to the sensor.
    HRESULT STDMETHODCALLTYPE PostEvent(LPWSTR pwszSensorID,
                                        IPortableDeviceValuesCollection* pEventCollection) override;
    // A state-changed event carrying the state, to every file subscribed to the sensor.
    HRESULT STDMETHODCALLTYPE PostStateChange(LPWSTR pwszSensorID, SensorState state) override;
    // Unsubscribes and disconnects whatever the file left, and ends its waits.
    HRESULT STDMETHODCALLTYPE CleanupFile(IWDFFile* pWdfFile) override;

  protected:
    bool Answers(REFIID riid) const override;

  private:
    // A call into the driver: holds the driver and counts the call as under way while it lives,
    // so that Uninitialize waits for it. Empty when the class extension is not initialised.
    class DriverCall {
      public:
        explicit DriverCall(SensorClassExtension& owner);
        ~DriverCall();
        DriverCall(const DriverCall&) = delete;
        DriverCall& operator=(const DriverCall&) = delete;
        explicit operator bool() const { return static_cast<bool>(driver_); }
        ISensorDriver* operator->() const { return driver_.Get(); }

      private:
        SensorClassExtension& owner_;
        Microsoft::WRL::ComPtr<ISensorDriver> driver_;
    };

    // The message's work. Each returns the answer's status (a driver's result or a refusal of
    // the class extension's own) and fills in the answer's payload.
    HRESULT Answer(const sensor_message::Request& request, IWDFFile* file,
                   sensor_message::Answer* answer);
    HRESULT Query(const sensor_message::Request& request, IWDFFile* file,
                  sensor_message::Answer* answer);
    HRESULT Connect(ClientFile& file, const std::wstring& sensorId);
    HRESULT Disconnect(ClientFile& file, const std::wstring& sensorId);
    HRESULT Subscribe(ClientFile& file, const std::wstring& sensorId);
    HRESULT Unsubscribe(ClientFile& file, const std::wstring& sensorId);
    // The driver's client callbacks that undo a file's link to a sensor. The caller holds the
    // file's operationLock, and completes the deliveries once it has let it go.
    HRESULT EndSubscription(DriverCall& driver, ClientFile& file, const std::wstring& sensorId,
                            Deliveries* deliveries);
    HRESULT EndConnection(DriverCall& driver, ClientFile& file, const std::wstring& sensorId);
    // Unsubscribes and disconnects every sensor the file is linked to.
    void Unlink(ClientFile& file);

    // Whether the driver reports a sensor by that identifier; the list is asked for once
    // (OnGetSupportedSensorObjects) and kept until Uninitialize.
    HRESULT CheckSensorId(const std::wstring& sensorId);
    void LearnSensors(const std::vector<sensor_message::ValueList>& sensorObjects);

    // Hands an event to the subscribed files.
    HRESULT Post(const std::wstring& sensorId, sensor_message::Event event);
    // Completes the waits a change made due; called with no lock held.
    static void Complete(Deliveries& deliveries);

    std::mutex driverLock_;
    std::condition_variable driverIdle_;
    // Both held from Initialize to Uninitialize.
    Microsoft::WRL::ComPtr<IUnknown> device_;
    Microsoft::WRL::ComPtr<ISensorDriver> driver_;
    std::size_t callsUnderWay_ = 0;
    std::optional<std::vector<std::wstring>> sensorIds_;

    ClientFiles files_;
};

}  // namespace zntr::host
