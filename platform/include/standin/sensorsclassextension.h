// The Windows Sensor API's driver side: ISensorDriver, the callbacks a sensor driver implements,
// and ISensorClassExtension, the platform component that calls them and posts the driver's
// events to applications.
#pragma once

#include "standin/portabledevicetypes.h"
#include "standin/sensors.h"
#include "standin/unknwn.h"
#include "standin/wudfddi.h"

// {D262B6BA-87CC-495D-B639-939EF853BD3B}
inline constexpr IID IID_ISensorDriver = {
    0xD262B6BA, 0x87CC, 0x495D, {0xB6, 0x39, 0x93, 0x9E, 0xF8, 0x53, 0xBD, 0x3B}};
// {A31253BA-6F73-4BC9-ABAA-26C8833C58FF}
inline constexpr IID IID_ISensorClassExtension = {
    0xA31253BA, 0x6F73, 0x4BC9, {0xAB, 0xAA, 0x26, 0xC8, 0x83, 0x3C, 0x58, 0xFF}};
// {6101F767-998E-452B-B54A-E836DD486BAD}
inline constexpr CLSID CLSID_SensorClassExtension = {
    0x6101F767, 0x998E, 0x452B, {0xB5, 0x4A, 0xE8, 0x36, 0xDD, 0x48, 0x6B, 0xAD}};

struct ISensorDriver : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    OnGetSupportedSensorObjects(IPortableDeviceValuesCollection** ppSensorObjectCollection) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnGetSupportedProperties(
        LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppSupportedProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnGetSupportedDataFields(
        LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppSupportedDataFields) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnGetSupportedEvents(LPWSTR pwszObjectID,
                                                           GUID** ppSupportedEvents,
                                                           ULONG* pulEventCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnGetProperties(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                                      IPortableDeviceKeyCollection* pProperties,
                                                      IPortableDeviceValues** ppPropertyValues) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnGetDataFields(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                                      IPortableDeviceKeyCollection* pDataFields,
                                                      IPortableDeviceValues** ppDataValues) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetProperties(IWDFFile* pClientFile, LPWSTR pwszObjectID,
                                                      IPortableDeviceValues* pPropertiesToSet,
                                                      IPortableDeviceValues** ppResults) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClientConnect(IWDFFile* pClientFile,
                                                      LPWSTR pwszObjectID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClientDisconnect(IWDFFile* pClientFile,
                                                         LPWSTR pwszObjectID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClientSubscribeToEvents(IWDFFile* pClientFile,
                                                                LPWSTR pwszObjectID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClientUnsubscribeFromEvents(IWDFFile* pClientFile,
                                                                    LPWSTR pwszObjectID) = 0;
    // Portable Devices commands that the class extension does not handle itself.
    virtual HRESULT STDMETHODCALLTYPE OnProcessWpdMessage(
        IUnknown* pUnkPortableDeviceValuesParams, IUnknown* pUnkPortableDeviceValuesResults) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(ISensorDriver)
};

struct ISensorClassExtension : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pWdfDeviceUnknown,
                                                 IUnknown* pSensorDriverUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessIoControl(IWDFIoRequest* pRequest) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    PostEvent(LPWSTR pwszSensorID, IPortableDeviceValuesCollection* pEventCollection) = 0;
    virtual HRESULT STDMETHODCALLTYPE PostStateChange(LPWSTR pwszSensorID, SensorState state) = 0;
    virtual HRESULT STDMETHODCALLTYPE CleanupFile(IWDFFile* pWdfFile) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(ISensorClassExtension)
};
