// The ISensorDriver query and set callbacks, with their final signatures. They answer
// E_NOTIMPL until the query handling is built on this object.
#include "sensor_ddi.h"

// Comes with the query handling.
HRESULT cSensorDDI::OnGetSupportedSensorObjects(
    IPortableDeviceValuesCollection** /*ppCollection*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnGetSupportedProperties(LPWSTR /*pwszObjectID*/,
                                             IPortableDeviceKeyCollection** /*ppProperties*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnGetSupportedDataFields(LPWSTR /*pwszObjectID*/,
                                             IPortableDeviceKeyCollection** /*ppDataFields*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnGetSupportedEvents(LPWSTR /*pwszObjectID*/, GUID** /*ppSupportedEvents*/,
                                         ULONG* /*pulEventCount*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnGetProperties(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceKeyCollection* /*pProperties*/,
                                    IPortableDeviceValues** /*ppPropertyValues*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnGetDataFields(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceKeyCollection* /*pDataFields*/,
                                    IPortableDeviceValues** /*ppDataValues*/) {
    return E_NOTIMPL;
}

// Comes with the query handling.
HRESULT cSensorDDI::OnSetProperties(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceValues* /*pPropertiesToSet*/,
                                    IPortableDeviceValues** /*ppResults*/) {
    return E_NOTIMPL;
}
