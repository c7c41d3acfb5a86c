// The User-Mode Driver Framework 1.9 interfaces, declared as the framework declares them: the
// same interfaces, slot order and signatures. The framework host implements the framework's
// objects (driver, device, device initialisation, queue, request, memory, file, property store);
// the driver implements the callback interfaces. Methods that neither side uses are declared all
// the same, so that every slot stands where the framework has it.
#pragma once

#include "standin/propidl.h"
#include "standin/unknwn.h"
#include "standin/windef.h"
#include "standin/winerror.h"
#include "standin/wudfddi_types.h"

typedef const GUID* LPCGUID;

// {64275C66-2E71-4060-B5F4-3A76DF96ED3C}
inline constexpr IID IID_IWDFObject = {
    0x64275C66, 0x2E71, 0x4060, {0xB5, 0xF4, 0x3A, 0x76, 0xDF, 0x96, 0xED, 0x3C}};
// {AD368EBE-4139-43E3-A875-69B266A9139C}
inline constexpr IID IID_IWDFDriver = {
    0xAD368EBE, 0x4139, 0x43E3, {0xA8, 0x75, 0x69, 0xB2, 0x66, 0xA9, 0x13, 0x9C}};
// {74CC381C-0871-43C1-878B-3F7C9D16933D}
inline constexpr IID IID_IWDFDeviceInitialize = {
    0x74CC381C, 0x0871, 0x43C1, {0x87, 0x8B, 0x3F, 0x7C, 0x9D, 0x16, 0x93, 0x3D}};
// {D657FE45-460A-49C3-8219-766AE8032A80}
inline constexpr IID IID_IWDFDevice = {
    0xD657FE45, 0x460A, 0x49C3, {0x82, 0x19, 0x76, 0x6A, 0xE8, 0x03, 0x2A, 0x80}};
// {1B0D07B1-F596-4A76-99B3-B9492AD8DF9F}
inline constexpr IID IID_IWDFDevice2 = {
    0x1B0D07B1, 0xF596, 0x4A76, {0x99, 0xB3, 0xB9, 0x49, 0x2A, 0xD8, 0xDF, 0x9F}};
// {394B48C9-BCA0-498F-8E2C-01225464A932}
inline constexpr IID IID_IWDFNamedPropertyStore = {
    0x394B48C9, 0xBCA0, 0x498F, {0x8E, 0x2C, 0x01, 0x22, 0x54, 0x64, 0xA9, 0x32}};
// {AE1162B9-8B11-4714-993D-93DC48CC9E8A}
inline constexpr IID IID_IWDFIoQueue = {
    0xAE1162B9, 0x8B11, 0x4714, {0x99, 0x3D, 0x93, 0xDC, 0x48, 0xCC, 0x9E, 0x8A}};
// {896DF312-22B4-4A9D-95DD-A364AAF59769}
inline constexpr IID IID_IWDFIoRequest = {
    0x896DF312, 0x22B4, 0x4A9D, {0x95, 0xDD, 0xA3, 0x64, 0xAA, 0xF5, 0x97, 0x69}};
// {AB098F88-8F16-472A-B0BC-ECA46486C102}
inline constexpr IID IID_IWDFMemory = {
    0xAB098F88, 0x8F16, 0x472A, {0xB0, 0xBC, 0xEC, 0xA4, 0x64, 0x86, 0xC1, 0x02}};
// {CC8FE04B-FE8B-4245-AFD6-C31BC830C791}
inline constexpr IID IID_IWDFFile = {
    0xCC8FE04B, 0xFE8B, 0x4245, {0xAF, 0xD6, 0xC3, 0x1B, 0xC8, 0x30, 0xC7, 0x91}};
// {1BEC7499-8881-4F2B-B01C-A1A907304AFC}
inline constexpr IID IID_IDriverEntry = {
    0x1BEC7499, 0x8881, 0x4F2B, {0xB0, 0x1C, 0xA1, 0xA9, 0x07, 0x30, 0x4A, 0xFC}};
// {51433BD3-C7C1-4BD8-B4C1-AB1E034626CC}
inline constexpr IID IID_IPnpCallbackHardware = {
    0x51433BD3, 0xC7C1, 0x4BD8, {0xB4, 0xC1, 0xAB, 0x1E, 0x03, 0x46, 0x26, 0xCC}};
// {27C32374-CC45-4840-857E-8E5EF7C0EBFF}
inline constexpr IID IID_IPnpCallback = {
    0x27C32374, 0xCC45, 0x4840, {0x85, 0x7E, 0x8E, 0x5E, 0xF7, 0xC0, 0xEB, 0xFF}};
// {35C5F79C-6D81-4819-AA64-D6A8939D94D6}
inline constexpr IID IID_IFileCallbackCleanup = {
    0x35C5F79C, 0x6D81, 0x4819, {0xAA, 0x64, 0xD6, 0xA8, 0x93, 0x9D, 0x94, 0xD6}};
// {7D8899F0-8DA9-435F-983C-7E17D4356997}
inline constexpr IID IID_IQueueCallbackCreate = {
    0x7D8899F0, 0x8DA9, 0x435F, {0x98, 0x3C, 0x7E, 0x17, 0xD4, 0x35, 0x69, 0x97}};
// {C3072620-1DA6-48FB-B4FE-ED652B16AEB2}
inline constexpr IID IID_IQueueCallbackRead = {
    0xC3072620, 0x1DA6, 0x48FB, {0xB4, 0xFE, 0xED, 0x65, 0x2B, 0x16, 0xAE, 0xB2}};
// {C5411408-0F1E-4ED6-A412-36DD15EEE707}
inline constexpr IID IID_IQueueCallbackDeviceIoControl = {
    0xC5411408, 0x0F1E, 0x4ED6, {0xA4, 0x12, 0x36, 0xDD, 0x15, 0xEE, 0xE7, 0x07}};

// Framework objects and callbacks that the interfaces below name but that neither the driver nor
// the host uses; they stay incomplete.
struct IObjectCleanup;
struct IWDFIoTarget;
struct IWDFDriverCreatedFile;
struct IWDFRemoteInterfaceInitialize;
struct IWDFRemoteInterface;
struct IWDFRemoteTarget;
struct IQueueCallbackStateChange;
struct IRequestCallbackCancel;
struct IRequestCallbackRequestCompletion;
struct IWDFRequestCompletionParams;
struct IImpersonateCallback;

struct IWDFDriver;
struct IWDFDeviceInitialize;
struct IWDFDevice;
struct IWDFIoQueue;
struct IWDFIoRequest;
struct IWDFMemory;
struct IWDFFile;

// A store of named values that persists with the device: text (VT_LPWSTR) and 32-bit numbers
// (VT_UI4). A value read out is a copy that the caller clears with PropVariantClear.
struct IWDFNamedPropertyStore : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR pszName, PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR pszName, const PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNameCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNameAt(DWORD index, PWSTR* pName) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFNamedPropertyStore)
};

// What every framework object offers: deletion, one context, and the object's lock.
struct IWDFObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteWdfObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup* pCleanupCallback,
                                                    void* ContextData) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveContext(void** ppvContextData) = 0;
    virtual void STDMETHODCALLTYPE AcquireLock() = 0;
    virtual void STDMETHODCALLTYPE ReleaseLock() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFObject)
};

struct IWDFDriver : public IWDFObject {
    // Creates the framework device for a device being added; the callback object's interfaces
    // (IPnpCallbackHardware, IPnpCallback, IFileCallbackCleanup, ...) tell the framework which
    // callbacks to make.
    virtual HRESULT STDMETHODCALLTYPE CreateDevice(IWDFDeviceInitialize* pDeviceInit,
                                                   IUnknown* pCallbackInterface,
                                                   IWDFDevice** ppDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateWdfObject(IUnknown* pCallbackInterface,
                                                      IWDFObject* pParentObject,
                                                      IWDFObject** ppWdfObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePreallocatedWdfMemory(BYTE* pBuff, SIZE_T BufferSize,
                                                                  IUnknown* pCallbackInterface,
                                                                  IWDFObject* pParentObject,
                                                                  IWDFMemory** ppWdfMemory) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateWdfMemory(SIZE_T BufferSize,
                                                      IUnknown* pCallbackInterface,
                                                      IWDFObject* pParentObject,
                                                      IWDFMemory** ppWdfMemory) = 0;
    virtual BOOL STDMETHODCALLTYPE IsVersionAvailable(UMDF_VERSION_DATA* pMinimumVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveVersionString(PWSTR pVersion,
                                                            DWORD* pdwVersionLength) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFDriver)
};

// The device being added, as the framework hands it to the driver's OnDeviceAdd: the device's
// identity and the settings the driver gives before the framework device is created.
struct IWDFDeviceInitialize : public IUnknown {
    virtual void STDMETHODCALLTYPE SetFilter() = 0;
    virtual void STDMETHODCALLTYPE SetLockingConstraint(WDF_CALLBACK_CONSTRAINT LockType) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
        IWDFNamedPropertyStore** ppPropStore, WDF_PROPERTY_STORE_DISPOSITION* pDisposition) = 0;
    virtual void STDMETHODCALLTYPE SetPowerPolicyOwnership(BOOL fTrue) = 0;
    virtual void STDMETHODCALLTYPE AutoForwardCreateCleanupClose(WDF_TRI_STATE State) = 0;
    // With Buffer null and *pdwSizeInChars 0: S_OK and the size needed, NUL included. A buffer
    // too small: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) and the size needed.
    virtual HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR Buffer,
                                                               DWORD* pdwSizeInChars) = 0;
    virtual void STDMETHODCALLTYPE SetPnpCapability(WDF_PNP_CAPABILITY Capability,
                                                    WDF_TRI_STATE Value) = 0;
    virtual WDF_TRI_STATE STDMETHODCALLTYPE GetPnpCapability(WDF_PNP_CAPABILITY Capability) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFDeviceInitialize)
};

struct IWDFDevice : public IWDFObject {
    virtual HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
        IWDFNamedPropertyStore** ppPropStore, WDF_PROPERTY_STORE_DISPOSITION* pDisposition) = 0;
    virtual void STDMETHODCALLTYPE GetDriver(IWDFDriver** ppWdfDriver) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR Buffer,
                                                               DWORD* pdwSizeInChars) = 0;
    virtual void STDMETHODCALLTYPE GetDefaultIoTarget(IWDFIoTarget** ppWdfIoTarget) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateWdfFile(PCWSTR pcwszFileName,
                                                    IWDFDriverCreatedFile** ppFile) = 0;
    // The device's default queue, or null when it has none; the caller releases it.
    virtual void STDMETHODCALLTYPE GetDefaultIoQueue(IWDFIoQueue** ppWdfIoQueue) = 0;
    // Fails with HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION) for a dispatching queue whose
    // callback object offers no queue callback interface.
    virtual HRESULT STDMETHODCALLTYPE CreateIoQueue(
        IUnknown* pCallbackInterface, BOOL bDefaultQueue, WDF_IO_QUEUE_DISPATCH_TYPE DispatchType,
        BOOL bPowerManaged, BOOL bAllowZeroLengthRequests, IWDFIoQueue** ppIoQueue) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateDeviceInterface(LPCGUID pDeviceInterfaceGuid,
                                                            PCWSTR pReferenceString) = 0;
    virtual HRESULT STDMETHODCALLTYPE AssignDeviceInterfaceState(LPCGUID pDeviceInterfaceGuid,
                                                                 PCWSTR pReferenceString,
                                                                 BOOL Enable) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveDeviceName(PWSTR pDeviceName,
                                                         DWORD* pdwDeviceNameLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE PostEvent(REFGUID EventGuid, WDF_EVENT_TYPE EventType,
                                                BYTE* pbData, DWORD cbDataSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(IWDFIoQueue* pQueue,
                                                                  WDF_REQUEST_TYPE RequestType,
                                                                  BOOL Forward) = 0;
    virtual void STDMETHODCALLTYPE SetPnpState(WDF_PNP_STATE State, WDF_TRI_STATE Value) = 0;
    virtual WDF_TRI_STATE STDMETHODCALLTYPE GetPnpState(WDF_PNP_STATE State) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitPnpState() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateRequest(IUnknown* pCallbackInterface,
                                                    IWDFObject* pParentObject,
                                                    IWDFIoRequest** ppRequest) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSymbolicLink(PCWSTR pSymbolicLink) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFDevice)
};

struct IWDFDevice2 : public IWDFDevice {
    virtual HRESULT STDMETHODCALLTYPE AssignS0IdleSettings(
        WDF_POWER_POLICY_S0_IDLE_CAPABILITIES IdleCaps, DEVICE_POWER_STATE DxState,
        ULONG IdleTimeout, WDF_POWER_POLICY_S0_IDLE_USER_CONTROL UserControlOfIdleSettings,
        WDF_TRI_STATE Enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopIdle(BOOL WaitForD0) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResumeIdle() = 0;
    virtual HRESULT STDMETHODCALLTYPE
    CreateSymbolicLinkWithReferenceString(PCWSTR pSymbolicLink, PCWSTR pReferenceString) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterRemoteInterfaceNotification(LPCGUID pInterfaceGuid,
                                                                          BOOL IncludeExisting) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateRemoteInterface(
        IWDFRemoteInterfaceInitialize* pRemoteInterfaceInit, IUnknown* pCallbackInterface,
        IWDFRemoteInterface** ppRemoteInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateRemoteTarget(IUnknown* pCallbackInterface,
                                                         IWDFObject* pParentObject,
                                                         IWDFRemoteTarget** ppRemoteTarget) = 0;
    virtual void STDMETHODCALLTYPE GetDeviceStackIoTypePreference(
        WDF_DEVICE_IO_BUFFER_RETRIEVAL* RetrievalMode, WDF_DEVICE_IO_TYPE* ReadWritePreference,
        WDF_DEVICE_IO_TYPE* IoControlPreference) = 0;
    virtual HRESULT STDMETHODCALLTYPE AssignSxWakeSettings(
        DEVICE_POWER_STATE DxState, WDF_POWER_POLICY_SX_WAKE_USER_CONTROL UserControlOfWakeSettings,
        WDF_TRI_STATE Enabled) = 0;
    // What the system is doing while the device's power changes; meaningful only during a
    // D0 entry or exit callback. PowerActionNone for a device-only power change.
    virtual POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFDevice2)
};

struct IWDFIoQueue : public IWDFObject {
    virtual void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(WDF_REQUEST_TYPE RequestType,
                                                                  BOOL Forward) = 0;
    virtual WDF_IO_QUEUE_STATE STDMETHODCALLTYPE GetState(ULONG* pulNumOfRequestsInQueue,
                                                          ULONG* pulNumOfRequestsInDriver) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveNextRequest(IWDFIoRequest** ppRequest) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    RetrieveNextRequestByFileObject(IWDFFile* pFile, IWDFIoRequest** ppRequest) = 0;
    virtual void STDMETHODCALLTYPE Start() = 0;
    virtual void STDMETHODCALLTYPE Stop(IQueueCallbackStateChange* pStopComplete) = 0;
    virtual void STDMETHODCALLTYPE StopSynchronously() = 0;
    virtual void STDMETHODCALLTYPE Drain(IQueueCallbackStateChange* pDrainComplete) = 0;
    virtual void STDMETHODCALLTYPE DrainSynchronously() = 0;
    virtual void STDMETHODCALLTYPE Purge(IQueueCallbackStateChange* pPurgeComplete) = 0;
    virtual void STDMETHODCALLTYPE PurgeSynchronously() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFIoQueue)
};

// A request of a client: file creation, read, or device I/O control. It is completed exactly
// once; Complete(hr) is CompleteWithInformation(hr, 0).
struct IWDFIoRequest : public IWDFObject {
    virtual void STDMETHODCALLTYPE CompleteWithInformation(HRESULT CompletionStatus,
                                                           SIZE_T Information) = 0;
    virtual void STDMETHODCALLTYPE SetInformation(SIZE_T Information) = 0;
    virtual void STDMETHODCALLTYPE Complete(HRESULT CompletionStatus) = 0;
    virtual void STDMETHODCALLTYPE SetCompletionCallback(
        IRequestCallbackRequestCompletion* pCompletionCallback, void* pContext) = 0;
    virtual WDF_REQUEST_TYPE STDMETHODCALLTYPE GetType() = 0;
    virtual void STDMETHODCALLTYPE GetCreateParameters(ULONG* pOptions, USHORT* pFileAttributes,
                                                       USHORT* pShareAccess) = 0;
    virtual void STDMETHODCALLTYPE GetReadParameters(SIZE_T* pSizeInBytes, LONGLONG* pullOffset,
                                                     ULONG* pulKey) = 0;
    virtual void STDMETHODCALLTYPE GetWriteParameters(SIZE_T* pSizeInBytes, LONGLONG* pullOffset,
                                                      ULONG* pulKey) = 0;
    virtual void STDMETHODCALLTYPE GetDeviceIoControlParameters(ULONG* pControlCode,
                                                                SIZE_T* pInBufferSize,
                                                                SIZE_T* pOutBufferSize) = 0;
    // The request's output (or input) buffer, or null when it has none; the caller releases it.
    virtual void STDMETHODCALLTYPE GetOutputMemory(IWDFMemory** ppWdfMemory) = 0;
    virtual void STDMETHODCALLTYPE GetInputMemory(IWDFMemory** ppWdfMemory) = 0;
    virtual void STDMETHODCALLTYPE MarkCancelable(IRequestCallbackCancel* pCancelCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnmarkCancelable() = 0;
    virtual BOOL STDMETHODCALLTYPE CancelSentRequest() = 0;
    virtual HRESULT STDMETHODCALLTYPE ForwardToIoQueue(IWDFIoQueue* pDestination) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(IWDFIoTarget* pIoTarget, DWORD Flags,
                                           LONGLONG Timeout) = 0;
    // The file the request was made on; the caller releases it.
    virtual void STDMETHODCALLTYPE GetFileObject(IWDFFile** ppFileObject) = 0;
    virtual void STDMETHODCALLTYPE FormatUsingCurrentType() = 0;
    virtual ULONG STDMETHODCALLTYPE GetRequestorProcessId() = 0;
    virtual void STDMETHODCALLTYPE GetIoQueue(IWDFIoQueue** ppWdfIoQueue) = 0;
    virtual HRESULT STDMETHODCALLTYPE Impersonate(SECURITY_IMPERSONATION_LEVEL ImpersonationLevel,
                                                  IImpersonateCallback* pCallback,
                                                  void* pvCallbackContext) = 0;
    virtual BOOL STDMETHODCALLTYPE IsFrom32BitProcess() = 0;
    virtual void STDMETHODCALLTYPE
    GetCompletionParams(IWDFRequestCompletionParams** ppCompletionParams) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFIoRequest)
};

// A buffer of the framework: a request's input or output.
struct IWDFMemory : public IWDFObject {
    virtual HRESULT STDMETHODCALLTYPE CopyFromMemory(IWDFMemory* pSourceMemory,
                                                     PWDFMEMORY_OFFSET pSourceOffset) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyToBuffer(SIZE_T SourceOffset, void* DestinationBuffer,
                                                   SIZE_T NumOfBytesToCopyTo) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyFromBuffer(SIZE_T DestOffset, void* SourceBuffer,
                                                     SIZE_T NumOfBytesToCopyFrom) = 0;
    virtual SIZE_T STDMETHODCALLTYPE GetSize() = 0;
    // The buffer and, when BufferSize is not null, its size in bytes.
    virtual void* STDMETHODCALLTYPE GetDataBuffer(SIZE_T* BufferSize) = 0;
    virtual void STDMETHODCALLTYPE SetBuffer(void* pBuffer, SIZE_T BufferSize) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFMemory)
};

// One open of the device by a client program.
struct IWDFFile : public IWDFObject {
    virtual HRESULT STDMETHODCALLTYPE RetrieveFileName(PWSTR pFileName,
                                                       DWORD* pdwFileNameLengthInChars) = 0;
    virtual void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFFile)
};

// The callback interfaces a driver implements.

struct IDriverEntry : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnInitialize(IWDFDriver* pWdfDriver) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDeviceAdd(IWDFDriver* pWdfDriver,
                                                  IWDFDeviceInitialize* pWdfDeviceInit) = 0;
    virtual void STDMETHODCALLTYPE OnDeinitialize(IWDFDriver* pWdfDriver) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IDriverEntry)
};

struct IPnpCallbackHardware : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice* pWdfDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReleaseHardware(IWDFDevice* pWdfDevice) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPnpCallbackHardware)
};

struct IPnpCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnD0Entry(IWDFDevice* pWdfDevice,
                                                WDF_POWER_DEVICE_STATE previousState) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnD0Exit(IWDFDevice* pWdfDevice,
                                               WDF_POWER_DEVICE_STATE newState) = 0;
    virtual void STDMETHODCALLTYPE OnSurpriseRemoval(IWDFDevice* pWdfDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnQueryRemove(IWDFDevice* pWdfDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnQueryStop(IWDFDevice* pWdfDevice) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPnpCallback)
};

struct IFileCallbackCleanup : public IUnknown {
    virtual void STDMETHODCALLTYPE OnCleanupFile(IWDFFile* pWdfFileObject) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IFileCallbackCleanup)
};

struct IQueueCallbackCreate : public IUnknown {
    virtual void STDMETHODCALLTYPE OnCreateFile(IWDFIoQueue* pWdfQueue, IWDFIoRequest* pWdfRequest,
                                                IWDFFile* pWdfFileObject) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IQueueCallbackCreate)
};

struct IQueueCallbackRead : public IUnknown {
    virtual void STDMETHODCALLTYPE OnRead(IWDFIoQueue* pWdfQueue, IWDFIoRequest* pWdfRequest,
                                          SIZE_T NumOfBytesToRead) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IQueueCallbackRead)
};

struct IQueueCallbackDeviceIoControl : public IUnknown {
    virtual void STDMETHODCALLTYPE OnDeviceIoControl(IWDFIoQueue* pWdfQueue,
                                                     IWDFIoRequest* pWdfRequest, ULONG ControlCode,
                                                     SIZE_T InputBufferSizeInBytes,
                                                     SIZE_T OutputBufferSizeInBytes) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IQueueCallbackDeviceIoControl)
};
