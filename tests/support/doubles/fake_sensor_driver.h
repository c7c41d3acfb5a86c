// A sensor driver of the tests' own (ISensorDriver) behind the class extension, on CallRecorder:
// each callback is recorded as "Method(file,sensor)" (the file by the name the test gave it, "-"
// for none), may be held at a gate, and returns the answer set for its method when that is a
// failure. It reports one sensor, kFakeSensorId, whose properties are its object ID, a friendly
// name and its state, whose data fields are a latitude and a satellite count of a type the
// sensor messages do not carry (VT_I2), and whose events are data updated and state changed; a
// set answers the values it was given, as the driver received them. It counts clients and
// subscribers as the real sensor does: a disconnect or unsubscribe with none left is
// E_UNEXPECTED.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "call_recorder.h"
#include "standin/com_helpers.h"
#include "standin/sensorsclassextension.h"

namespace zntr::test {

inline constexpr wchar_t kFakeSensorId[] = L"FakeSensor";

class FakeSensorDriver final : public zntr::platform::ComObject<ISensorDriver> {
  public:
    FakeSensorDriver() = default;

    CallRecorder calls;
    // Set before the first query: what the friendly name and the latitude answer.
    std::wstring friendlyName = L"Fake GPS";
    double latitude = 47.5;

    // The name calls give the file.
    void Name(IWDFFile* file, const std::string& name);
    int Clients() const { return clients_; }
    int Subscribers() const { return subscribers_; }

    HRESULT STDMETHODCALLTYPE
    OnGetSupportedSensorObjects(IPortableDeviceValuesCollection** ppCollection) override;
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedProperties(LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppKeys) override;
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedDataFields(LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppKeys) override;
    HRESULT STDMETHODCALLTYPE OnGetSupportedEvents(LPWSTR pwszObjectID, GUID** ppEvents,
                                                   ULONG* pulCount) override;
    HRESULT STDMETHODCALLTYPE OnGetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pKeys,
                                              IPortableDeviceValues** ppValues) override;
    HRESULT STDMETHODCALLTYPE OnGetDataFields(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pKeys,
                                              IPortableDeviceValues** ppValues) override;
    HRESULT STDMETHODCALLTYPE OnSetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceValues* pToSet,
                                              IPortableDeviceValues** ppResults) override;
    HRESULT STDMETHODCALLTYPE OnClientConnect(IWDFFile* pFile, LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientDisconnect(IWDFFile* pFile, LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientSubscribeToEvents(IWDFFile* pFile,
                                                        LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientUnsubscribeFromEvents(IWDFFile* pFile,
                                                            LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnProcessWpdMessage(IUnknown*, IUnknown*) override {
        return E_NOTIMPL;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ISensorDriver); }

  private:
    // Records the call; its answer when that is a failure, else S_OK.
    HRESULT Record(const char* method, IWDFFile* file, LPCWSTR sensorId);
    // Each key asked for with its value from `all`, or ERROR_NOT_FOUND under it (and S_FALSE).
    static HRESULT Select(IPortableDeviceValues* all, IPortableDeviceKeyCollection* keys,
                          IPortableDeviceValues** ppValues);
    HRESULT Properties(IPortableDeviceValues** ppValues);

    std::mutex mutex_;
    std::map<IWDFFile*, std::string> names_;
    std::atomic<int> clients_{0};
    std::atomic<int> subscribers_{0};
};

}  // namespace zntr::test
