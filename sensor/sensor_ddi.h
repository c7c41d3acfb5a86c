// cSensorDDI: the driver's one location sensor. It implements the platform's sensor driver
// callbacks (ISensorDriver) and holds everything the sensor is: the catalogue of property and
// data-field keys with their current values, the sensor state, the client and subscription
// counts, the members the GPS feed works on, and the NMEA parser whose fix record feeds the data
// fields.
//
// Locks: mSensorLock guards the four collections, the counts, writes of mSensorState and the
// signalling of the two events; the parser has its own mLock. No operation holds both.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "circular_buffer.h"
#include "com_base.h"
#include "driver_platform.h"
#include "heap_object.h"
#include "nmea_parser.h"

// The sensor's identifier toward the platform: its WPD_OBJECT_ID, the identifier under which its
// events are posted, and the name under which its unique ID is stored with the device.
constexpr WCHAR SENSOR_OBJECT_ID[] = L"ZntrVComLocation";

// Allocated from the process heap, so its creation fails as the platform's allocations do.
class cSensorDDI : public cComBase<ISensorDriver>, public cHeapObject {
  public:
    // The creator: clears *ppSensorDDI, makes the object with a reference count of 0 and stores
    // it in *ppSensorDDI only when that worked (E_OUTOFMEMORY otherwise). The caller takes the
    // reference the pointer holds.
    static HRESULT CreateInstance(cSensorDDI** ppSensorDDI);

    // IUnknown: answers IUnknown and ISensorDriver, nothing else.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    // ISensorDriver: the query and set callbacks.
    HRESULT STDMETHODCALLTYPE OnGetSupportedSensorObjects(
        IPortableDeviceValuesCollection** ppSensorObjectCollection) override;
    HRESULT STDMETHODCALLTYPE OnGetSupportedProperties(
        LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppSupportedProperties) override;
    HRESULT STDMETHODCALLTYPE OnGetSupportedDataFields(
        LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppSupportedDataFields) override;
    HRESULT STDMETHODCALLTYPE OnGetSupportedEvents(LPWSTR pwszObjectID, GUID** ppSupportedEvents,
                                                   ULONG* pulEventCount) override;
    HRESULT STDMETHODCALLTYPE OnGetProperties(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pProperties,
                                              IPortableDeviceValues** ppPropertyValues) override;
    HRESULT STDMETHODCALLTYPE OnGetDataFields(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pDataFields,
                                              IPortableDeviceValues** ppDataValues) override;
    HRESULT STDMETHODCALLTYPE OnSetProperties(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                              IPortableDeviceValues* pPropertiesToSet,
                                              IPortableDeviceValues** ppResults) override;
    // ISensorDriver: the client callbacks.
    HRESULT STDMETHODCALLTYPE OnClientConnect(IWDFFile* pClientFile, LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientDisconnect(IWDFFile* pClientFile,
                                                 LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientSubscribeToEvents(IWDFFile* pClientFile,
                                                        LPWSTR pwszObjectID) override;
    HRESULT STDMETHODCALLTYPE OnClientUnsubscribeFromEvents(IWDFFile* pClientFile,
                                                            LPWSTR pwszObjectID) override;
    // ISensorDriver's last slot, where the platform's header has OnProcessWpdMessage; it runs the
    // driver's OnProcessIoControl.
    HRESULT STDMETHODCALLTYPE
    OnProcessWpdMessage(IUnknown* pUnkPortableDeviceValuesParams,
                        IUnknown* pUnkPortableDeviceValuesResults) override;
    // Does nothing: the class extension handles every message itself.
    HRESULT OnProcessIoControl();

    // The query callbacks' helpers. GetSupportedProperties runs the device lookups under
    // mSensorLock and hands out mpSupportedProperties with a reference taken; CopyKeys adds each
    // key of pSource to pTarget, in order.
    HRESULT GetSupportedProperties(IPortableDeviceKeyCollection** ppSupportedProperties);
    HRESULT CopyKeys(IPortableDeviceKeyCollection* pSource, IPortableDeviceKeyCollection* pTarget);

    // The device identity lookups over the Setup API (driver/device_identity.cpp): the friendly
    // name of the device's serial port into mDeviceName and the friendly-name property, and the
    // interface path of its sibling network adapter into mNetDevicePath. They take no lock:
    // GetSupportedProperties holds mSensorLock around them, the wake-up hook calls
    // SetNetworkDevicePath without it.
    void SetDeviceName();
    std::wstring GetDeviceName(const std::wstring& hardwareToken,
                               const std::wstring& instanceToken);
    HRESULT SetNetworkDevicePath();
    std::wstring GetNetworkDevicePath(const std::wstring& hardwareToken,
                                      const std::wstring& instanceToken);

    // Initialisation: portId is the device instance ID, device the framework device.
    HRESULT Initialize(std::wstring portId, IWDFDevice* pDevice);
    HRESULT InitializeSensorValues();
    HRESULT InitializeLBSValues();
    HRESULT SetLBSDefaultPropertyValues();
    HRESULT SetUniqueID(IWDFDevice* pDevice);

    // Locked operations: each holds mSensorLock for its whole duration. SetDataFieldValue is the
    // only writer of data fields.
    HRESULT GetPropertyValue(REFPROPERTYKEY key, PROPVARIANT* pValue);
    HRESULT SetPropertyValue(REFPROPERTYKEY key, const PROPVARIANT* pValue);
    HRESULT SetDataFieldValue(REFPROPERTYKEY key, const PROPVARIANT* pValue);
    // Stores the state and, while a client is subscribed, signals mhStateEvent. Leaves the
    // SENSOR_PROPERTY_STATE value to the caller, who sets it first.
    void SetSensorState(SensorState state);
    // Copies every data field, key and value, into pValues under mSensorLock (the event
    // thread's copy for a data event).
    HRESULT CopyDataFieldValues(IPortableDeviceValues* pValues);

    // The reading update: each updater writes the values that are not their no-value markers to
    // the data fields, one field per SetDataFieldValue. Run on the receive thread only.
    void SetSensorGGAData(double latitude, double longitude, double altitude, INT fixQuality,
                          INT satellitesUsed, double utcTime, double hdop, double geoidSeparation);
    void SetSensorVTGData(double trueCourse, double speedKnots, double magneticCourse);
    void SetSensorRMCData(double latitude, double longitude, double trueCourse, double speedKnots,
                          double utcTime);
    void SetSensorGLLData(double latitude, double longitude, double utcTime);
    // Takes the PRN list over: it is emptied when the update is done, its storage left to the
    // caller for the next GSA line.
    void SetSensorGSAData(double hdop, INT fixMode, double pdop, double vdop,
                          std::vector<double>& satellitePRNs);
    // The only updater that moves the sensor state and signals a data event.
    void SetSensorPQXFIData(double latitude, double longitude, double altitude, double utcTime,
                            double errorRadius);

    // The hooks the device runs before the system sleeps and before the device is removed or
    // stopped. With a client connected they forget the network device path and, while the
    // sensor is ready, report it initialising (sleep) or without data (removal); the feed goes
    // on. They read the counts and the state without mSensorLock.
    void PrepareToSleep();
    void PrepareRemoval();
    // Empties mNetDevicePath, so that the next SetNetworkDevicePath looks the path up again.
    void LocationHelperStop();
    // Takes the feed down as the last client's disconnection does, and counts every client out:
    // for the device's teardown, which must end the receive thread before it releases the
    // sensor, whether or not every client disconnected first.
    void EndFeed();

    // Members, in the order the sensor's description gives them.

    // TCP stream socket to the hotspot's GPS port; 0 means none. Owned by the feed.
    SOCKET mSocket;
    // The running receive thread; null means none. Set under mSensorLock by the first client's
    // connection; taken out (exchanged for null) either by the disconnection that ends the
    // thread or by the thread itself when it gives up, without the lock. Whichever takes it
    // closes it.
    std::atomic<HANDLE> mhRecvThread;
    // Byte ring of the receive loop; its storage exists only while the receive thread runs.
    CircularBuffer mRecvBuffer;
    // Connected clients. Changed under mSensorLock; the power hooks read it without the lock.
    std::atomic<ULONG> mClientCount;
    // Interface path of the network device that carries the hotspot; empty until looked up.
    std::wstring mNetDevicePath;
    // Device name found by the device lookup; empty until found.
    std::wstring mDeviceName;
    // Parser and fix record run by the line sink, with its own lock mLock.
    cNMEAParser mNMEAParser;
    // The catalogue and the current values; one reference each, owned by the object.
    Microsoft::WRL::ComPtr<IPortableDeviceKeyCollection> mpSupportedProperties;
    Microsoft::WRL::ComPtr<IPortableDeviceKeyCollection> mpSupportedDataFields;
    Microsoft::WRL::ComPtr<IPortableDeviceValues> mpSensorProperties;
    Microsoft::WRL::ComPtr<IPortableDeviceValues> mpSensorDataFields;
    CRITICAL_SECTION mSensorLock;
    // Event subscriptions; read and changed under mSensorLock.
    ULONG mSubscriberCount;
    // Copies of the device's data and state events, handed over by the device; not owned, never
    // closed here.
    HANDLE mhDataEvent;
    HANDLE mhStateEvent;
    // The sensor state as last set, a SensorState value. Written under mSensorLock; other threads
    // read it without the lock, an aligned 32-bit read, which the atomic makes a defined one.
    std::atomic<ULONG> mSensorState;
    // The last position that signalled a data event, with its error radius. Read and written on
    // the receive thread only.
    double mLastLatitude;
    double mLastLongitude;
    double mLastErrorRadius;
    // The line sink's copy of the GSA PRN list, reused from one GSA line to the next so that a
    // steady stream costs no allocation. The receive thread's only.
    std::vector<double> mLineSinkPRNs;
    // The port identifier given to Initialize, lower-cased: the serial number property and the
    // key of the device lookups.
    std::wstring mNMEAPortID;

  private:
    cSensorDDI();
    ~cSensorDDI() override;

    // Releases and clears the four collections, in the order the destructor uses.
    void ReleaseCollections();

    // The data-field forms of the reading update; each writes nothing for its no-value marker.
    void SetDoubleDataField(REFPROPERTYKEY key, double value);
    void SetFloatDataField(REFPROPERTYKEY key, double value);
    void SetIntegerDataField(REFPROPERTYKEY key, INT value);
    void SetTimestampDataField(double utcTime);
    // SENSOR_PROPERTY_STATE, then the state itself.
    void ChangeSensorState(SensorState state);

    // The feed taken down: the receive thread ended, then the socket closed, then the buffer
    // storage released and the thread handle closed. The caller holds mSensorLock.
    void StopReceiveThread();
    // The two power hooks' common steps, with the hook's own message and state.
    void LeaveReadyState(const char* noClientsMessage, SensorState state);
};

// The one sensor object, holding one reference; null while there is none. The line sink, the
// event thread and the power hooks reach the sensor through it.
extern cSensorDDI* gpSensorDDI;
