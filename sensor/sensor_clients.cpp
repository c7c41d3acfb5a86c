// The sensor's clients: the four ISensorDriver client callbacks with the two counts, the start
// and the end of the feed, and the hooks the device runs before sleep and before removal.
//
// The counts count calls: the client file and the sensor identifier are not looked at.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "sensor_ddi.h"
#include "sensor_receive_loop.h"

// Runs entirely under mSensorLock, the thread's creation included. The count keeps its increase
// when no thread can be created; no retry is made until every client has left.
HRESULT cSensorDDI::OnClientConnect(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    HRESULT hr = S_OK;
    cCriticalSectionLock lock(mSensorLock);
    DebugLog("cSensorDDI::OnClientConnect\n");
    ++mClientCount;
    if (mClientCount == 1 && mhRecvThread.load() == nullptr) {
        // The thread may give up before its handle is stored here; it then finds no handle to
        // close, and the handle of the ended thread stays until the last client's
        // disconnection closes it, as when the thread cannot allocate its buffer.
        const HANDLE hRecvThread = CreateThread(nullptr, 0, GpsRecvThreadProc, this, 0, nullptr);
        if (hRecvThread == nullptr) {
            // Taken before anything is logged: writing to the debugger output may change it.
            const DWORD error = GetLastError();
            DebugLog("cMainDevice: failed to create receive thread");
            DebugLog("Failed to create the thread with error: %d\n", error);
            hr = HRESULT_FROM_WIN32(error);
        } else {
            mhRecvThread = hRecvThread;
        }
    }
    if (SUCCEEDED(hr)) {
        DebugLog("cSensorDDI::OnClientconnect returns\n");
    }
    return hr;
}

// Runs entirely under mSensorLock. The sensor's state, data fields, last position and the
// parser's fix record stay as they are: a later client sees the old values until new sentences
// arrive.
HRESULT cSensorDDI::OnClientDisconnect(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    HRESULT hr = S_OK;
    cCriticalSectionLock lock(mSensorLock);
    DebugLog("Insided OnClientDisconnect");
    if (mClientCount == 0) {
        DebugLog("OnClientDisconnect: no clients connected\n");
        hr = E_UNEXPECTED;
    } else if (--mClientCount > 0) {
        DebugLog("OnClientDisconnect no clients\n");
    } else {
        LocationHelperStop();
        StopReceiveThread();
    }
    return hr;
}

HRESULT cSensorDDI::OnClientSubscribeToEvents(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/) {
    cCriticalSectionLock lock(mSensorLock);
    ++mSubscriberCount;
    return S_OK;
}

HRESULT cSensorDDI::OnClientUnsubscribeFromEvents(IWDFFile* /*pClientFile*/,
                                                  LPWSTR /*pwszObjectID*/) {
    HRESULT hr = S_OK;
    cCriticalSectionLock lock(mSensorLock);
    if (mSubscriberCount == 0) {
        hr = E_UNEXPECTED;
    } else {
        --mSubscriberCount;
    }
    return hr;
}

// The thread is ended while this thread holds mSensorLock, on which the receive thread may be
// waiting inside SetDataFieldValue. TerminateThread does not need the receive thread to get the
// lock: a thread waiting to enter a critical section ends in that wait, and the call returns
// once the thread no longer runs. Only then are the socket and the storage released.
//
// The handle is taken out of mhRecvThread before anything else. A thread that is giving up at
// the same moment then finds no handle and leaves it here; one that took its handle first has
// already released its storage and closes the handle itself, so nothing is ended or closed
// twice.
void cSensorDDI::StopReceiveThread() {
    const HANDLE hRecvThread = mhRecvThread.exchange(nullptr);
    if (hRecvThread != nullptr) {
        TerminateThread(hRecvThread, 0);
    }
    if (mSocket != 0) {
        closesocket(mSocket);
        mSocket = 0;
    }
    if (hRecvThread != nullptr) {
        ReleaseRecvBufferStorage(mRecvBuffer);
        CloseHandle(hRecvThread);
    }
}

void cSensorDDI::EndFeed() {
    cCriticalSectionLock lock(mSensorLock);
    mClientCount = 0;
    LocationHelperStop();
    StopReceiveThread();
}

// The path is shared with the query callbacks, which look it up under mSensorLock; the hooks,
// which otherwise run without the lock, take it for the moment the path is emptied. The lock is
// recursive, so the disconnection, which holds it already, calls this as it is.
void cSensorDDI::LocationHelperStop() {
    cCriticalSectionLock lock(mSensorLock);
    mNetDevicePath.clear();
}

void cSensorDDI::PrepareToSleep() {
    LeaveReadyState("PrepareToSleep did not call LocationHelperStop, no clients",
                    SENSOR_STATE_INITIALIZING);
}

void cSensorDDI::PrepareRemoval() {
    LeaveReadyState("PrepareRemoval did not call LocationHelperStop, no clients",
                    SENSOR_STATE_NO_DATA);
}

// Neither hook stops the feed: the next position the receive loop reports makes the sensor
// ready again.
void cSensorDDI::LeaveReadyState(const char* noClientsMessage, SensorState state) {
    if (mClientCount == 0) {
        DebugLog(noClientsMessage);
        return;
    }
    LocationHelperStop();
    DebugLog("LocationHelperStop: status=%!bool!", TRUE);
    if (mSensorState != SENSOR_STATE_READY) {
        return;
    }
    ChangeSensorState(state);
}
