// The ISensorDriver client callbacks, with their final signatures. They answer E_NOTIMPL until
// the client handling is built on this object.
#include "sensor_ddi.h"

// Comes with the client handling.
HRESULT cSensorDDI::OnClientConnect(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    return E_NOTIMPL;
}

// Comes with the client handling.
HRESULT cSensorDDI::OnClientDisconnect(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    return E_NOTIMPL;
}

// Comes with the client handling.
HRESULT cSensorDDI::OnClientSubscribeToEvents(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    return E_NOTIMPL;
}

// Comes with the client handling.
HRESULT cSensorDDI::OnClientUnsubscribeFromEvents(IWDFFile* /*pClientFile*/,
                                                  LPWSTR /*pwszObjectID*/) {
    return E_NOTIMPL;
}
