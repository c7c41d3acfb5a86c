// The sensor object's life: creation, construction, destruction, and its COM identity.
#include "sensor_ddi.h"

#include <new>

#include "critical_section_lock.h"
#include "debug_log.h"

cSensorDDI* gpSensorDDI = nullptr;

HRESULT cSensorDDI::CreateInstance(cSensorDDI** ppSensorDDI) {
    if (ppSensorDDI == nullptr) {
        return E_POINTER;
    }
    *ppSensorDDI = nullptr;
    // The constructor cannot fail: the critical section is initialised in place and, as on
    // Windows since Vista, that always succeeds. Only the allocation can.
    cSensorDDI* pSensor = new (std::nothrow) cSensorDDI();
    if (pSensor == nullptr) {
        return E_OUTOFMEMORY;
    }
    *ppSensorDDI = pSensor;
    return S_OK;
}

cSensorDDI::cSensorDDI()
    : mSocket(0),
      mhRecvThread(nullptr),
      mRecvBuffer{nullptr, 0, 0, 0},
      mClientCount(0),
      mSubscriberCount(0),
      mhDataEvent(nullptr),
      mhStateEvent(nullptr),
      mSensorState(SENSOR_STATE_NO_DATA),
      mLastLatitude(NO_DOUBLE_VALUE),
      mLastLongitude(NO_DOUBLE_VALUE),
      mLastErrorRadius(NO_DOUBLE_VALUE) {
    InitializeCriticalSection(&mSensorLock);
    // A failed start is only logged: the sensor still works, and the feed fails later when it
    // creates its socket.
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 0), &wsaData) != 0) {
        DebugLog("WSAStartup Failed with Error: %d\n", GetLastError());
    }
}

// The socket, the receive thread and the buffer storage belong to the feed, which is ended
// before the sensor is released; the event handles belong to the device.
cSensorDDI::~cSensorDDI() {
    ReleaseCollections();
    WSACleanup();
    mNMEAPortID.clear();
    DeleteCriticalSection(&mSensorLock);
    // The parser and the two remaining strings go with the members.
}

void cSensorDDI::ReleaseCollections() {
    cCriticalSectionLock lock(mSensorLock);
    mpSupportedProperties = nullptr;
    mpSensorProperties = nullptr;
    mpSupportedDataFields = nullptr;
    mpSensorDataFields = nullptr;
}

HRESULT cSensorDDI::QueryInterface(REFIID riid, void** ppvObject) {
    return AnswerQueryInterface(riid, ppvObject,
                                {{IID_ISensorDriver, static_cast<ISensorDriver*>(this)}});
}

// The platform's header names this slot OnProcessWpdMessage; for this driver it is
// OnProcessIoControl, which takes no part in the message.
HRESULT cSensorDDI::OnProcessWpdMessage(IUnknown* /*pUnkPortableDeviceValuesParams*/,
                                        IUnknown* /*pUnkPortableDeviceValuesResults*/) {
    return OnProcessIoControl();
}

HRESULT cSensorDDI::OnProcessIoControl() {
    return S_OK;
}
