// The class extension's doubles. FakeSensorDriver, a sensor driver (ISensorDriver) on
// CallRecorder: each callback is recorded as "Method(file,sensor)" (the file by the name the test
// gave it, "-" for none), may be held at a gate, and returns its method's answer when a failure.
// Its one sensor, kFakeSensorId, has properties (object ID, friendly name, state), data fields (a
// latitude, and a satellite count as VT_I2, which no sensor message carries) and events (data
// updated, state changed); a set answers the values as received. It counts clients and
// subscribers as the real sensor does (going below zero is E_UNEXPECTED).
//
// ClassExtensionSession runs the real class extension with it on the real framework objects
// (a device whose state stays in memory, its files, device I/O control requests as the host's
// server makes them), in COM's multithreaded apartment while it lives; the host's errors are
// recorded with the driver's calls as HostError(text).
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <optional>
#include <span>

#include "call_recorder.h"
#include "framework_device.h"
#include "framework_request.h"
#include "host_report.h"
#include "portable_values.h"
#include "sensor_class_extension.h"
#include "standin/portabledevice.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;

inline constexpr wchar_t kFakeSensorId[] = L"FakeSensor";

// A new collection of value lists (the platform's calls do not fail here).
inline ComPtr<IPortableDeviceValuesCollection> NewCollection() {
    ComPtr<IPortableDeviceValuesCollection> collection;
    CoCreateInstance(CLSID_PortableDeviceValuesCollection, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IPortableDeviceValuesCollection,
                     reinterpret_cast<void**>(collection.GetAddressOf()));
    return collection;
}

class FakeSensorDriver final : public zntr::platform::ComObject<ISensorDriver> {
  public:
    CallRecorder calls;
    std::wstring friendlyName = L"Fake GPS";  // set before the first query

    void Name(IWDFFile* file, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_[file] = name;
    }
    int Clients() const { return clients_; }
    int Subscribers() const { return subscribers_; }

    HRESULT STDMETHODCALLTYPE
    OnGetSupportedSensorObjects(IPortableDeviceValuesCollection** objects) override {
        *objects = NewCollection().Detach();
        ComPtr<IPortableDeviceValues> object;
        zntr::host::MakeValues(Properties(), object.GetAddressOf());
        (*objects)->Add(object.Get());
        return Record("OnGetSupportedSensorObjects", nullptr, L"");
    }
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedProperties(LPWSTR id, IPortableDeviceKeyCollection** keys) override {
        zntr::host::MakeKeyCollection(
            {WPD_OBJECT_ID, SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_STATE}, keys);
        return Record("OnGetSupportedProperties", nullptr, id);
    }
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedDataFields(LPWSTR id, IPortableDeviceKeyCollection** keys) override {
        zntr::host::MakeKeyCollection(
            {SENSOR_DATA_TYPE_LATITUDE_DEGREES, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT}, keys);
        return Record("OnGetSupportedDataFields", nullptr, id);
    }
    HRESULT STDMETHODCALLTYPE OnGetSupportedEvents(LPWSTR id, GUID** events,
                                                   ULONG* count) override {
        *events = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
        (*events)[0] = SENSOR_EVENT_DATA_UPDATED;
        (*events)[1] = SENSOR_EVENT_STATE_CHANGED;
        *count = 2;
        return Record("OnGetSupportedEvents", nullptr, id);
    }
    HRESULT STDMETHODCALLTYPE OnGetProperties(IWDFFile* file, LPWSTR id,
                                              IPortableDeviceKeyCollection* keys,
                                              IPortableDeviceValues** values) override {
        return Select(Record("OnGetProperties", file, id), Properties(), keys, values);
    }
    // The satellite count is answered as VT_I2, in every answer.
    HRESULT STDMETHODCALLTYPE OnGetDataFields(IWDFFile* file, LPWSTR id,
                                              IPortableDeviceKeyCollection* keys,
                                              IPortableDeviceValues** values) override {
        const HRESULT hr = Select(Record("OnGetDataFields", file, id),
                                  {{SENSOR_DATA_TYPE_LATITUDE_DEGREES, 47.5},
                                   {SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, std::int32_t{7}}},
                                  keys, values);
        zntr::platform::PropVariant count;
        count.vt = VT_I2;
        count.iVal = 7;
        (*values)->SetValue(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, &count);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OnSetProperties(IWDFFile* file, LPWSTR id,
                                              IPortableDeviceValues* values,
                                              IPortableDeviceValues** results) override {
        values->AddRef();
        *results = values;  // the values as the driver received them
        return Record("OnSetProperties", file, id);
    }
    HRESULT STDMETHODCALLTYPE OnClientConnect(IWDFFile* file, LPWSTR id) override {
        return Count(Record("OnClientConnect", file, id), clients_, +1);
    }
    HRESULT STDMETHODCALLTYPE OnClientDisconnect(IWDFFile* file, LPWSTR id) override {
        return Count(Record("OnClientDisconnect", file, id), clients_, -1);
    }
    HRESULT STDMETHODCALLTYPE OnClientSubscribeToEvents(IWDFFile* file, LPWSTR id) override {
        return Count(Record("OnClientSubscribeToEvents", file, id), subscribers_, +1);
    }
    HRESULT STDMETHODCALLTYPE OnClientUnsubscribeFromEvents(IWDFFile* file, LPWSTR id) override {
        return Count(Record("OnClientUnsubscribeFromEvents", file, id), subscribers_, -1);
    }
    HRESULT STDMETHODCALLTYPE OnProcessWpdMessage(IUnknown*, IUnknown*) override {
        return E_NOTIMPL;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ISensorDriver); }

  private:
    // Records the call; its answer when that is a failure, else S_OK.
    HRESULT Record(const char* method, IWDFFile* file, LPCWSTR sensorId) {
        std::string call = std::string(method) + "(";
        {
            std::lock_guard<std::mutex> lock(mutex_);
            call += names_.count(file) != 0 ? names_[file] : "-";
        }
        const std::wstring id = sensorId;  // the tests' IDs are ASCII
        const HRESULT answer = calls.Record(call + "," + std::string(id.begin(), id.end()) + ")");
        return FAILED(answer) ? answer : S_OK;
    }
    // A successful call moves the count, which never goes below zero (E_UNEXPECTED).
    static HRESULT Count(HRESULT hr, std::atomic<int>& count, int by) {
        int now = count.load();
        while (SUCCEEDED(hr) && now + by >= 0 && !count.compare_exchange_weak(now, now + by)) {
        }
        return FAILED(hr) ? hr : now + by >= 0 ? S_OK : E_UNEXPECTED;
    }
    zntr::sensor_message::ValueList Properties() const {
        return {{WPD_OBJECT_ID, std::wstring(kFakeSensorId)},
                {SENSOR_PROPERTY_FRIENDLY_NAME, friendlyName},
                {SENSOR_PROPERTY_STATE, std::uint32_t{SENSOR_STATE_READY}}};
    }
    // Each key asked for with its value, or ERROR_NOT_FOUND under it (and S_FALSE).
    static HRESULT Select(HRESULT hr, const zntr::sensor_message::ValueList& all,
                          IPortableDeviceKeyCollection* keys, IPortableDeviceValues** values) {
        std::vector<PROPERTYKEY> asked;
        zntr::host::ReadKeys(keys, &asked);
        zntr::sensor_message::ValueList answer;
        for (const PROPERTYKEY& key : asked) {
            const auto* value = zntr::sensor_message::FindValue(all, key);
            answer.push_back({key, value != nullptr ? *value
                                                    : zntr::sensor_message::ErrorCode{
                                                          HRESULT_FROM_WIN32(ERROR_NOT_FOUND)}});
            hr = value != nullptr || FAILED(hr) ? hr : S_FALSE;
        }
        zntr::host::MakeValues(answer, values);
        return hr;
    }

    std::mutex mutex_;
    std::map<IWDFFile*, std::string> names_;
    std::atomic<int> clients_{0};
    std::atomic<int> subscribers_{0};
};

// One request a session handed over; its result once completed.
struct SentRequest {
    mutable std::mutex mutex;
    std::optional<zntr::host::RequestResult> result;

    std::optional<zntr::host::RequestResult> Result() const {
        std::lock_guard<std::mutex> lock(mutex);
        return result;
    }
    bool Completed() const { return Result().has_value(); }
};

class ClassExtensionSession {
  public:
    ClassExtensionSession() : driver_(new FakeSensorDriver()) {
        driver_->Release();  // the ComPtr's reference is the one
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        previousSink_ = zntr::host::SetHostReportSink([this](auto kind, std::string_view text) {
            if (kind == zntr::host::ReportKind::kError) {
                driver_->calls.Record("HostError(" + std::string(text) + ")");
            }
        });
        zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf());
        zntr::host::CreateSensorClassExtension(IID_ISensorClassExtension,
                                               reinterpret_cast<void**>(extension_.GetAddressOf()));
        extension_->Initialize(device_.Get(), driver_.Get());
    }
    ~ClassExtensionSession() {
        extension_->Uninitialize();
        extension_ = nullptr;
        zntr::host::SetHostReportSink(std::move(previousSink_));
        CoUninitialize();
    }
    ClassExtensionSession(const ClassExtensionSession&) = delete;
    ClassExtensionSession& operator=(const ClassExtensionSession&) = delete;

    ISensorClassExtension& Extension() { return *extension_.Get(); }
    IWDFDevice* Device() { return device_.Get(); }
    FakeSensorDriver& Driver() { return *driver_.Get(); }

    // A client's file of the device; the driver's calls name it `name`.
    ComPtr<zntr::host::FrameworkFile> NewFile(const std::string& name) {
        auto file = zntr::host::FrameworkFile::Create(device_.Get());
        driver_->Name(file.Get(), name);
        return file;
    }
    // Hands a request of the file (or of none) carrying the message to ProcessIoControl.
    std::shared_ptr<SentRequest> Send(zntr::host::FrameworkFile* file,
                                      std::span<const std::uint8_t> message,
                                      std::size_t outputBytes = 4096,
                                      ULONG controlCode = IOCTL_WPD_MESSAGE_READWRITE_ACCESS) {
        auto sent = std::make_shared<SentRequest>();
        extension_->ProcessIoControl(zntr::host::FrameworkRequest::DeviceIoControlRequest(
                                         file, controlCode, message, outputBytes,
                                         [sent](const auto& result) {
                                             std::lock_guard<std::mutex> lock(sent->mutex);
                                             sent->result = result;
                                         })
                                         .Get());
        return sent;
    }
    // Posts as the driver's event thread does: a data event with the event ID and a latitude, or
    // a state change.
    HRESULT PostData(double latitude, std::wstring sensorId = kFakeSensorId) {
        return Post({{{SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED},
                      {SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude}}},
                    sensorId);
    }
    // Posts one event of each parameter list.
    HRESULT Post(const std::vector<zntr::sensor_message::ValueList>& events,
                 std::wstring sensorId = kFakeSensorId) {
        auto collection = NewCollection();
        for (const auto& parameters : events) {
            ComPtr<IPortableDeviceValues> values;
            zntr::host::MakeValues(parameters, values.GetAddressOf());
            collection->Add(values.Get());
        }
        return extension_->PostEvent(sensorId.data(), collection.Get());
    }
    HRESULT PostState(SensorState state, std::wstring sensorId = kFakeSensorId) {
        return extension_->PostStateChange(sensorId.data(), state);
    }

  private:
    ComPtr<IWDFDevice> device_;
    ComPtr<FakeSensorDriver> driver_;
    ComPtr<ISensorClassExtension> extension_;
    zntr::host::HostReportSink previousSink_;
};

}  // namespace zntr::test
